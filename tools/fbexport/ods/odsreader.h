#pragma once
// A read-only reader of Firebird/InterBase declaration files (ODS 10 to 13) that needs no
// engine. It never writes and never trusts the file: every page number, offset, length and
// count is checked before use, page chains are bounded, and a damaged file ends in OdsError
// naming the page. Pages are read through a small cache of fixed size.
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "odstraits.h"

namespace ods {

class OdsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the bytes come from: a file or a buffer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  virtual bool read(uint64_t offset, void* to, size_t n) = 0;
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path);  // throws OdsError
  ~FileSource() override;
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* to, size_t n) override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* to, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

struct Header {
  unsigned pageSize = 0;
  int odsMajor = 0, odsMinor = 0;
  int dialect = 0;
  uint64_t nextTransaction = 0, oldestTransaction = 0, oldestActive = 0, oldestSnapshot = 0;
  uint32_t pagesRelation = 0;  // first pointer page of RDB$PAGES
  uint32_t pageCount = 0;      // whole pages in the file
};

// Reads only the header page: enough to decide which reader opens the file.
std::optional<Header> peekHeader(ByteSource& src, std::string* error = nullptr);

// One column of a table as its declaration describes it.
struct Column {
  std::string name;
  int position = 0;
  int fieldId = 0;
  int fieldType = 0;  // RDB$FIELD_TYPE
  int subType = 0;
  int length = 0;  // bytes
  std::optional<int> charLength;
  int scale = 0;
  int precision = 0;
  std::optional<int> charsetId;
  std::string charset;  // empty when the field has none
  bool notNull = false;
};

struct Table {
  std::string name;
  int relationId = 0;
  int format = 0;
  bool view = false, external = false, temporary = false;
  std::vector<Column> columns;        // stored columns, in RDB$FIELD_POSITION order
  std::vector<std::string> computed;  // computed columns: not stored, so not read
};

// A decoded row: one value per table column, in column order.
struct Value {
  bool null = true;
  FieldDesc desc;                 // how the value is stored (from the record's own format)
  const uint8_t* data = nullptr;  // into the row's record image
};

class PageCache;

class Database {
 public:
  explicit Database(std::unique_ptr<ByteSource> src, size_t cachePages = 256);
  ~Database();

  const Header& header() const { return header_; }
  const OdsTraits& traits() const { return *traits_; }

  // User tables (views included, flagged), as the declaration lists them.
  std::vector<Table> tables();
  // The user table called name, or name in upper case (the larger name wins when both exist).
  std::optional<Table> findTable(const std::string& name);

  // Every row visible to a reader that sees committed work only, in storage order.
  void scan(const Table& table, const std::function<void(const std::vector<Value>&)>& row);

  // How each column is stored under the table's current format (dtype 0 when it is not stored).
  std::vector<FieldDesc> currentFields(const Table& table);

  // The content of a blob of the table (segments joined).
  std::string blob(const Table& table, const uint8_t id[8]);

  // Transaction state as the inventory pages keep it: 0 active, 1 limbo, 2 dead, 3 committed.
  int transactionState(uint64_t tra);

 private:
  struct RecordRef;
  struct Format;
  std::shared_ptr<const std::vector<uint8_t>> page(uint32_t n, int type);
  void readHeader();
  std::vector<uint32_t> pointerPages(int relationId);
  void scanRelation(int relationId, const std::function<void(const std::vector<uint8_t>&, int format)>& record);
  bool visibleVersion(uint32_t pageNo, unsigned line, std::vector<uint8_t>& image, int& format);
  void fragmentData(uint32_t pageNo, unsigned line, const uint8_t* head, size_t headLen, std::vector<uint8_t>& packed,
                    uint16_t flags);
  void unpack(const uint8_t* in, size_t n, std::vector<uint8_t>& out, uint32_t pageNo);
  const Format& format(int relationId, int number);
  std::string readBlob(int relationId, const uint8_t id[8]);
  void loadCatalog();
  // The steps of loadCatalog, in its order.
  void loadPageLists();
  void loadFormatsAndCharsets();
  struct Domain;
  std::map<std::string, Domain> loadDomains();
  void loadTables(const std::map<std::string, Domain>& domains);

  std::unique_ptr<ByteSource> src_;
  std::unique_ptr<PageCache> cache_;
  Header header_;
  const OdsTraits* traits_ = nullptr;
  unsigned maxRecords_ = 0, dataPagesPerPointer_ = 0;
  std::map<int, std::vector<uint32_t>> pointerPages_;
  std::vector<uint32_t> tipPages_;
  std::map<std::pair<int, int>, std::shared_ptr<Format>> formats_;
  bool catalogLoaded_ = false;
  bool bootstrap_ = false;
  uint64_t budget_ = 0, budgetLimit_ = 0;  // links followed in one scan, and their bound
  uint64_t blobBytes_ = 0;                 // blob bytes read since the scan began
  std::vector<uint8_t> newer_,
      packed_;  // scratch of visibleVersion  // reading RDB$PAGES before the inventory pages are known
  std::map<std::pair<int, int>, std::array<uint8_t, 8>> formatBlobs_;
  std::vector<Table> tables_;
  std::map<int, std::string> charsets_;
};

// Calendar helpers for the engine's date (days since 17 Nov 1858) and time (1/10000 s) values.
void decodeDate(int32_t days, int* year, int* month, int* day);
void decodeTime(uint32_t ticks, int* hour, int* minute, int* second);

}  // namespace ods
