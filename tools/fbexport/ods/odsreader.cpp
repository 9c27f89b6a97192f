#include "odsreader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unordered_set>

namespace ods {

namespace {

// Page types (the first byte of every page).
constexpr int kHeaderPage = 1, kTipPage = 3, kPointerPage = 4, kDataPage = 5, kBlobPage = 8;

// Record header flags (rhd_flags).
constexpr uint16_t kDeleted = 0x1, kChain = 0x2, kFragment = 0x4, kIncomplete = 0x8, kBlobRecord = 0x10, kDelta = 0x20,
                   kStreamBlob = 0x20, kDamaged = 0x80, kLongTranum = 0x400;

// Fixed layouts shared by every version: the 16-byte page header; a data page's slot array
// (offset, length) from byte 24; a pointer page's data page vector from byte 32; record headers
// of 13 bytes (rhd), 16 with the high transaction word (rhde, ODS 12+), 22 for the first parts
// of a fragmented record (rhdf: next fragment page at 16, line at 20); blob headers of 28 bytes
// with the page vector or the data at 28; blob pages with their data at 28.
constexpr unsigned kDataSlots = 24, kPointerVector = 32, kRhd = 13, kRhde = 16, kRhdf = 22, kBlh = 28, kBlp = 28,
                   kTipData = 20;
constexpr size_t kMaxRecord = 1u << 20;      // larger than any record an engine stores
constexpr unsigned kMaxVersions = 1u << 16;  // back versions of one record
constexpr uint64_t kMaxBlob = 1ull << 31;    // bytes of one blob

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

[[noreturn]] void damaged(uint32_t page, const std::string& what) {
  throw OdsError("página " + std::to_string(page) + ": " + what);
}

std::string trimmed(const uint8_t* p, size_t n) {
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Bytes of the types whose size is fixed; 0 for text and unknown types.
unsigned fixedLength(uint8_t dtype) {
  switch (dtype) {
    case kBoolean: return 1;
    case kShort: return 2;
    case kLong:
    case kReal:
    case kSqlDate:
    case kSqlTime: return 4;
    case kQuad:
    case kDouble:
    case kDFloat:
    case kTimestamp:
    case kBlob:
    case kArray:
    case kInt64: return 8;
    default: return 0;
  }
}

// A system-table record read through its layout; fields past the end of an older record are NULL.
struct SysRecord {
  const std::vector<uint8_t>& image;
  const SystemLayout& layout;
  const uint8_t* field(unsigned id) const {
    if (id >= layout.fields.size() || id / 8 >= image.size()) return nullptr;
    if (image[id / 8] & (1u << (id % 8))) return nullptr;
    const FieldDesc& d = layout.fields[id];
    if (d.offset + d.length > image.size()) return nullptr;
    return image.data() + d.offset;
  }
  std::optional<int> integer(unsigned id) const {
    const uint8_t* p = field(id);
    if (!p) return std::nullopt;
    if (layout.fields[id].dtype == kLong) return static_cast<int32_t>(get32(p));
    return static_cast<int16_t>(get16(p));
  }
  std::string text(unsigned id) const {
    const uint8_t* p = field(id);
    if (!p) return {};
    const FieldDesc& d = layout.fields[id];
    if (d.dtype == kVarying) return trimmed(p + 2, std::min<size_t>(get16(p), d.length - 2u));
    return trimmed(p, d.length);
  }
  // A blob id that is present and not all zero.
  bool hasBlob(unsigned id) const {
    const uint8_t* p = field(id);
    return p && (get32(p) || get32(p + 4));
  }
};

}  // namespace

// ---- sources

FileSource::FileSource(const std::string& path) {
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw OdsError("não foi possível abrir " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd_);
    fd_ = -1;
    throw OdsError(path + " não é um arquivo comum");
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

bool FileSource::read(uint64_t offset, void* to, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  auto* out = static_cast<char*>(to);
  while (n > 0) {
    const ssize_t r = pread(fd_, out, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    out += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return true;
}

bool MemorySource::read(uint64_t offset, void* to, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  std::memcpy(to, data_ + offset, n);
  return true;
}

// ---- page cache: the least recently used page leaves first; pages in use stay alive through
// their shared pointers, so memory is the cache plus the few pages a step holds.

class PageCache {
 public:
  PageCache(ByteSource& src, unsigned pageSize, size_t capacity)
      : src_(src), pageSize_(pageSize), capacity_(std::max<size_t>(capacity, 8)) {}

  std::shared_ptr<const std::vector<uint8_t>> get(uint32_t n) {
    auto it = index_.find(n);
    if (it != index_.end()) {
      lru_.splice(lru_.begin(), lru_, it->second);
      return it->second->second;
    }
    auto page = std::make_shared<std::vector<uint8_t>>(pageSize_);
    if (!src_.read(static_cast<uint64_t>(n) * pageSize_, page->data(), pageSize_)) damaged(n, "não pôde ser lida");
    lru_.emplace_front(n, page);
    index_[n] = lru_.begin();
    if (lru_.size() > capacity_) {
      index_.erase(lru_.back().first);
      lru_.pop_back();
    }
    return page;
  }

 private:
  using Entry = std::pair<uint32_t, std::shared_ptr<const std::vector<uint8_t>>>;
  ByteSource& src_;
  unsigned pageSize_;
  size_t capacity_;
  std::list<Entry> lru_;
  std::unordered_map<uint32_t, std::list<Entry>::iterator> index_;
};

// ---- header

std::optional<Header> peekHeader(ByteSource& src, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<Header> {
    if (error) *error = why;
    return std::nullopt;
  };
  uint8_t p[128];
  if (!src.read(0, p, sizeof p)) return fail("arquivo curto demais para uma declaração");
  if (p[0] != kHeaderPage) return fail("página 0: não é a página de cabeçalho");
  Header h;
  h.pageSize = get16(p + 16);
  if (h.pageSize != 1024 && h.pageSize != 2048 && h.pageSize != 4096 && h.pageSize != 8192 && h.pageSize != 16384 &&
      h.pageSize != 32768)
    return fail("página 0: tamanho de página inválido (" + std::to_string(h.pageSize) + ")");
  // hdr_ods_version: the major version, with 0x8000 set by Firebird (InterBase 6 wrote plain 10).
  const uint16_t ods = get16(p + 18);
  h.odsMajor = ods & 0x7FFF;
  if (!(ods & 0x8000) && h.odsMajor != 10)
    return fail("página 0: versão " + std::to_string(h.odsMajor) + " de outro fabricante");
  const OdsTraits* t = traitsFor(h.odsMajor, 0);
  if (!t) return fail("página 0: versão da estrutura em disco desconhecida (" + std::to_string(h.odsMajor) + ")");
  h.odsMinor = get16(p + t->minorOffset);
  h.pagesRelation = get32(p + 20);
  h.oldestTransaction = get32(p + 28);
  h.oldestActive = get32(p + 32);
  h.nextTransaction = get32(p + 36);
  const uint16_t flags = get16(p + 42);
  const OdsTraits* exact = traitsFor(h.odsMajor, h.odsMinor);
  h.dialect = (flags & exact->dialect3Flag) ? 3 : 1;
  h.oldestSnapshot = get32(p + (h.odsMajor >= 12 ? 72 : 76));
  h.pageCount = static_cast<uint32_t>(std::min<uint64_t>(src.size() / h.pageSize, UINT32_MAX));
  if (h.pagesRelation == 0 || h.pagesRelation >= h.pageCount)
    return fail("página 0: página de RDB$PAGES fora do arquivo (" + std::to_string(h.pagesRelation) + ")");
  return h;
}

// ---- database

struct Database::Format {
  std::vector<FieldDesc> fields;
  std::map<unsigned, std::vector<uint8_t>> defaults;  // field id -> stored value
  std::map<unsigned, FieldDesc> defaultDescs;
};

Database::Database(std::unique_ptr<ByteSource> src, size_t cachePages) : src_(std::move(src)) {
  std::string why;
  auto h = peekHeader(*src_, &why);
  if (!h) throw OdsError(why);
  header_ = *h;
  traits_ = traitsFor(header_.odsMajor, header_.odsMinor);
  cache_ = std::make_unique<PageCache>(*src_, header_.pageSize, cachePages);
  // Records per data page and data pages per pointer page follow from the page size: a slot
  // (4 bytes) plus a minimal record header (13) per record after the 28-byte page start; a page
  // number (32 bits) plus the per-slot bits per data page after the 32-byte pointer page start.
  maxRecords_ = (header_.pageSize - 28) / (4 + kRhd);
  dataPagesPerPointer_ = (header_.pageSize - kPointerVector) * 8 / (32 + traits_->pointerBitsPerSlot);
  // ODS 12 keeps that a multiple of 8 (seen in files made here: 808 at 4096-byte pages, not 812).
  if (traits_->pointerSlotsRoundTo8) dataPagesPerPointer_ &= ~7u;
  budgetLimit_ = static_cast<uint64_t>(header_.pageCount) * maxRecords_ + 1024;
}

Database::~Database() = default;

std::shared_ptr<const std::vector<uint8_t>> Database::page(uint32_t n, int type) {
  if (n >= header_.pageCount) damaged(n, "fora do arquivo (" + std::to_string(header_.pageCount) + " páginas)");
  auto p = cache_->get(n);
  if (type && (*p)[0] != type)
    damaged(n, "tipo " + std::to_string((*p)[0]) + " onde se esperava " + std::to_string(type));
  return p;
}

int Database::transactionState(uint64_t tra) {
  if (tra == 0 || bootstrap_) return 3;  // the system transaction
  // Two bits per transaction after the 20-byte TIP start: 0 active, 1 limbo, 2 dead, 3 committed.
  const uint64_t perPage = static_cast<uint64_t>(header_.pageSize - kTipData) * 4;
  const uint64_t seq = tra / perPage;
  if (seq >= tipPages_.size()) return 0;
  const uint32_t n = tipPages_[seq];
  auto p = page(n, kTipPage);
  const uint64_t i = tra % perPage;
  return ((*p)[kTipData + i / 4] >> ((i % 4) * 2)) & 3;
}

std::vector<uint32_t> Database::pointerPages(int relationId) {
  auto it = pointerPages_.find(relationId);
  if (it != pointerPages_.end()) return it->second;
  std::vector<uint32_t> list;
  if (relationId == 0) {
    // RDB$PAGES itself: its first pointer page is in the header, the rest follow ppg_next.
    std::unordered_set<uint32_t> seen;
    for (uint32_t n = header_.pagesRelation; n != 0;) {
      if (!seen.insert(n).second) damaged(n, "ciclo na cadeia de páginas de ponteiros");
      auto p = page(n, kPointerPage);
      if (get16(p->data() + 26) != 0) damaged(n, "página de ponteiros de outra tabela");
      list.push_back(n);
      n = get32(p->data() + 20);
    }
  } else {
    loadCatalog();
    auto found = pointerPages_.find(relationId);
    if (found != pointerPages_.end()) list = found->second;
  }
  pointerPages_[relationId] = list;
  return list;
}

void Database::unpack(const uint8_t* in, size_t n, std::vector<uint8_t>& out, uint32_t pageNo) {
  // Run-length compression of the whole record: a positive control byte c is followed by c
  // literal bytes, a negative one by one byte repeated -c times. ODS 13 adds -1 and -2 (runs the
  // old coder never writes, as it only compresses three or more repeats): a 2- or 4-byte
  // repeat count, then the byte.
  size_t i = 0;
  while (i < n) {
    const int c = static_cast<int8_t>(in[i++]);
    if (c >= 0) {
      if (static_cast<size_t>(c) > n - i) damaged(pageNo, "registro comprimido truncado");
      out.insert(out.end(), in + i, in + i + c);
      i += static_cast<size_t>(c);
    } else {
      size_t count = static_cast<size_t>(-c);
      if (traits_->longRuns && (c == -1 || c == -2)) {
        const size_t width = c == -1 ? 2 : 4;
        if (width > n - i) damaged(pageNo, "registro comprimido truncado");
        count = width == 2 ? get16(in + i) : get32(in + i);
        i += width;
      }
      if (i >= n) damaged(pageNo, "registro comprimido truncado");
      out.insert(out.end(), std::min(count, kMaxRecord + 1), in[i++]);
    }
    if (out.size() > kMaxRecord) damaged(pageNo, "registro grande demais");
  }
}

namespace {
// A record slot on a data page, checked to lie inside the page after the slot array.
const uint8_t* slotRecord(const std::vector<uint8_t>& pg, uint32_t pageNo, unsigned line, size_t* len) {
  const unsigned count = get16(pg.data() + 22);
  if (kDataSlots + 4ull * count > pg.size()) damaged(pageNo, "contagem de registros inválida");
  if (line >= count) damaged(pageNo, "linha " + std::to_string(line) + " inexistente");
  const unsigned off = get16(pg.data() + kDataSlots + 4 * line), length = get16(pg.data() + kDataSlots + 4 * line + 2);
  if (length == 0) {
    *len = 0;
    return nullptr;
  }
  if (off < kDataSlots + 4 * count || off + length > pg.size())
    damaged(pageNo, "registro da linha " + std::to_string(line) + " fora da página");
  *len = length;
  return pg.data() + off;
}
}  // namespace

void Database::fragmentData(uint32_t pageNo, unsigned line, const uint8_t* rec, size_t len,
                            std::vector<uint8_t>& packed, uint16_t flags) {
  if (!(flags & kIncomplete)) {
    const size_t head = (traits_->longTransactions && (flags & kLongTranum)) ? kRhde : kRhd;
    if (len < head) damaged(pageNo, "registro curto demais");
    packed.insert(packed.end(), rec + head, rec + len);
    return;
  }
  // A record too long for one page: the head keeps the first part and points at the next
  // fragment; each fragment is flagged as such and continues the same compressed stream.
  std::unordered_set<uint64_t> seen{(static_cast<uint64_t>(pageNo) << 16) | line};
  for (;;) {
    if (len < kRhdf) damaged(pageNo, "fragmento curto demais");
    packed.insert(packed.end(), rec + kRhdf, rec + len);
    if (packed.size() > kMaxRecord) damaged(pageNo, "registro grande demais");
    const uint32_t next = get32(rec + 16);
    const unsigned nextLine = get16(rec + 20);
    if (!seen.insert((static_cast<uint64_t>(next) << 16) | nextLine).second)
      damaged(next, "ciclo na cadeia de fragmentos");
    if (++budget_ > budgetLimit_) damaged(next, "cadeias de fragmentos entrelaçadas");
    auto pg = page(next, kDataPage);
    rec = slotRecord(*pg, next, nextLine, &len);
    if (!rec || len < kRhd) damaged(next, "fragmento ausente na linha " + std::to_string(nextLine));
    flags = get16(rec + 10);
    if (!(flags & kFragment)) damaged(next, "a linha " + std::to_string(nextLine) + " não é um fragmento");
    pageNo = next;
    if (!(flags & kIncomplete)) {
      const size_t head = (traits_->longTransactions && (flags & kLongTranum)) ? kRhde : kRhd;
      if (len < head) damaged(pageNo, "fragmento curto demais");
      packed.insert(packed.end(), rec + head, rec + len);
      return;
    }
  }
}

bool Database::visibleVersion(uint32_t pageNo, unsigned line, std::vector<uint8_t>& image, int& format) {
  std::vector<uint8_t>& newer = newer_;
  std::vector<uint8_t>& packed = packed_;
  bool haveNewer = false, first = true;
  uint16_t newerFlags = 0;
  std::unordered_set<uint64_t> seen;  // only filled when a chain is followed
  for (unsigned steps = 0;; ++steps) {
    if (steps > 0) {
      // Each back version belongs to one record, so a scan never follows more links than the
      // file has record slots; more means chains that cross or loop.
      if (++budget_ > budgetLimit_) damaged(pageNo, "cadeias de versões entrelaçadas");
      if (steps > kMaxVersions || !seen.insert((static_cast<uint64_t>(pageNo) << 16) | line).second)
        damaged(pageNo, "ciclo na cadeia de versões");
    }
    auto pg = page(pageNo, kDataPage);
    size_t len = 0;
    const uint8_t* rec = slotRecord(*pg, pageNo, line, &len);
    if (!rec || len < kRhd) damaged(pageNo, "versão anterior ausente na linha " + std::to_string(line));
    const uint16_t flags = get16(rec + 10);
    if (!first && !(flags & kChain)) damaged(pageNo, "a linha " + std::to_string(line) + " não é uma versão anterior");
    if (flags & kDamaged) damaged(pageNo, "registro marcado como danificado");
    uint64_t tra = get32(rec);
    if (traits_->longTransactions && (flags & kLongTranum)) {
      if (len < kRhde) damaged(pageNo, "registro curto demais");
      tra |= static_cast<uint64_t>(get16(rec + 14)) << 32;
    }
    const bool committed = transactionState(tra) == 3;
    const uint32_t backPage = get32(rec + 4);
    const unsigned backLine = get16(rec + 8);
    if (committed && (flags & kDeleted)) return false;
    image.clear();
    if (!(flags & kDeleted)) {
      if (!first && (newerFlags & kDelta)) {
        // The newer version's rhd_delta says this older one is kept as its differences from
        // the newer image, themselves run-length packed: after unpacking, a positive control
        // byte brings that many new bytes, a negative one keeps that many bytes of the newer.
        if (!haveNewer) damaged(pageNo, "diferença sem versão mais nova");
        const size_t head = (traits_->longTransactions && (flags & kLongTranum)) ? kRhde : kRhd;
        std::vector<uint8_t> diff;
        unpack(rec + head, len - head, diff, pageNo);
        image = newer;
        size_t out = 0;
        for (size_t i = 0; i < diff.size();) {
          const int c = static_cast<int8_t>(diff[i++]);
          if (c > 0) {
            if (static_cast<size_t>(c) > diff.size() - i || out + c > image.size())
              damaged(pageNo, "diferença inválida");
            std::memcpy(image.data() + out, diff.data() + i, static_cast<size_t>(c));
            i += static_cast<size_t>(c);
            out += static_cast<size_t>(c);
          } else {
            out += static_cast<size_t>(-c);
            if (out > image.size()) damaged(pageNo, "diferença inválida");
          }
        }
      } else {
        packed.clear();
        fragmentData(pageNo, line, rec, len, packed, flags);
        if (traits_->notPackedFlag && (flags & traits_->notPackedFlag)) image = packed;
        else unpack(packed.data(), packed.size(), image, pageNo);
      }
    }
    if (committed) {
      format = rec[12];
      return true;
    }
    if (backPage == 0) return false;
    newer.swap(image);
    newerFlags = flags;
    haveNewer = !(flags & kDeleted);
    first = false;
    pageNo = backPage;
    line = backLine;
  }
}

void Database::scanRelation(int relationId,
                            const std::function<void(const std::vector<uint8_t>&, int format)>& record) {
  const std::vector<uint32_t> pps = pointerPages(relationId);
  std::vector<uint8_t> image;
  budget_ = 0;
  for (size_t i = 0; i < pps.size(); ++i) {
    const uint32_t ppNo = pps[i];
    auto pp = page(ppNo, kPointerPage);
    if (get16(pp->data() + 26) != relationId) damaged(ppNo, "página de ponteiros de outra tabela");
    // Like a data page, a pointer page knows its place; one listed twice cannot match both.
    if (get32(pp->data() + 16) != i) damaged(ppNo, "página de ponteiros fora de ordem");
    const unsigned count = get16(pp->data() + 24);
    if (count > dataPagesPerPointer_) damaged(ppNo, "contagem de páginas de dados inválida");
    for (unsigned slot = 0; slot < count; ++slot) {
      const uint32_t dpNo = get32(pp->data() + kPointerVector + 4 * slot);
      if (dpNo == 0) continue;
      auto dp = page(dpNo, kDataPage);
      if (get16(dp->data() + 20) != relationId) damaged(dpNo, "página de dados de outra tabela");
      // A data page knows its place in the table; a page listed twice cannot match both places.
      if (get32(dp->data() + 16) != i * dataPagesPerPointer_ + slot) damaged(dpNo, "página de dados fora de ordem");
      const unsigned lines = get16(dp->data() + 22);
      if (kDataSlots + 4ull * lines > header_.pageSize) damaged(dpNo, "contagem de registros inválida");
      for (unsigned line = 0; line < lines; ++line) {
        size_t len = 0;
        const uint8_t* rec = slotRecord(*dp, dpNo, line, &len);
        if (!rec) continue;
        if (len < kRhd) damaged(dpNo, "registro curto demais na linha " + std::to_string(line));
        // Only primary versions start a row; back versions, fragments and blobs hang off them.
        if (get16(rec + 10) & (kChain | kFragment | kBlobRecord)) continue;
        int fmt = 0;
        if (visibleVersion(dpNo, line, image, fmt)) record(image, fmt);
      }
    }
  }
}

std::string Database::readBlob(int relationId, const uint8_t id[8]) {
  // A blob id: the relation (2 bytes), a reserved byte, the high byte of the record number, then
  // its low 4 bytes. The number locates the blob header like a record: data page sequence =
  // number / records per page, line = the rest.
  const int rel = get16(id);
  const uint64_t number = static_cast<uint64_t>(id[3]) << 32 | get32(id + 4);
  if (rel == 0 && number == 0) return {};
  if (rel != relationId)
    throw OdsError("blob da tabela " + std::to_string(rel) + " num registro da tabela " + std::to_string(relationId));
  const uint64_t seq = number / maxRecords_;
  const unsigned line = static_cast<unsigned>(number % maxRecords_);
  const std::vector<uint32_t> pps = pointerPages(relationId);
  const uint64_t ppIndex = seq / dataPagesPerPointer_;
  const unsigned slot = static_cast<unsigned>(seq % dataPagesPerPointer_);
  if (ppIndex >= pps.size()) throw OdsError("blob " + std::to_string(number) + " fora da tabela");
  auto pp = page(pps[ppIndex], kPointerPage);
  if (slot >= get16(pp->data() + 24)) damaged(pps[ppIndex], "blob em página de dados inexistente");
  const uint32_t dpNo = get32(pp->data() + kPointerVector + 4 * slot);
  auto dp = page(dpNo, kDataPage);
  size_t len = 0;
  const uint8_t* rec = slotRecord(*dp, dpNo, line, &len);
  if (!rec || len < kBlh || !(get16(rec + 10) & kBlobRecord))
    damaged(dpNo, "blob ausente na linha " + std::to_string(line));
  const uint16_t flags = get16(rec + 10);
  const unsigned level = rec[12];
  const uint64_t total = get32(rec + 20);
  if (total > kMaxBlob || total > static_cast<uint64_t>(header_.pageCount) * header_.pageSize)
    damaged(dpNo, "blob grande demais");
  std::string data;
  // Level 0: the data follows the header; level 1: the header lists blob pages; level 2: it
  // lists blob pointer pages, which list the blob pages. Each blob page holds blp_length bytes.
  // A page belongs to one blob once: a page listed again (a loop the engine would refuse) must
  // not multiply the blob, so each blob holds at most the file.
  std::unordered_set<uint32_t> seen;
  auto appendPage = [&](uint32_t n, bool pointers, std::vector<uint32_t>* children) {
    if (!seen.insert(n).second) damaged(n, "página listada duas vezes no mesmo blob");
    auto bp = page(n, kBlobPage);
    const unsigned length = get16(bp->data() + 24);
    if (kBlp + length > header_.pageSize) damaged(n, "comprimento de blob inválido");
    if (((*bp)[1] & 1) != (pointers ? 1 : 0)) damaged(n, "página de blob do nível errado");
    if (pointers) {
      for (unsigned i = 0; i + 4 <= length; i += 4) children->push_back(get32(bp->data() + kBlp + i));
    } else {
      // The page list is bounded by the file, so this is too; the declared total is only data.
      if (data.size() + length > kMaxBlob) damaged(n, "blob grande demais");
      data.append(reinterpret_cast<const char*>(bp->data() + kBlp), length);
    }
  };
  if (level == 0) {
    data.assign(reinterpret_cast<const char*>(rec + kBlh), len - kBlh);
  } else if (level == 1 || level == 2) {
    std::vector<uint32_t> pages;
    for (size_t i = kBlh; i + 4 <= len; i += 4) pages.push_back(get32(rec + i));
    if (level == 2) {
      std::vector<uint32_t> leaves;
      for (uint32_t n : pages) {
        appendPage(n, true, &leaves);
        if (leaves.size() > header_.pageCount) damaged(n, "blob com páginas demais");
      }
      pages.swap(leaves);
    }
    if (pages.size() > header_.pageCount) damaged(dpNo, "blob com páginas demais");
    for (uint32_t n : pages) appendPage(n, false, nullptr);
  } else {
    damaged(dpNo, "nível de blob inválido (" + std::to_string(level) + ")");
  }
  // Every blob a scan reads lives in its own pages: together they cannot outgrow the file.
  blobBytes_ += data.size();
  if (blobBytes_ > src_->size()) damaged(dpNo, "blobs maiores que o arquivo");
  if (flags & kStreamBlob) return data;
  // Segmented: each segment is a 2-byte length and its bytes, packed across pages.
  std::string out;
  out.reserve(data.size());
  for (size_t i = 0; i < data.size();) {
    if (data.size() - i < 2) damaged(dpNo, "segmento de blob truncado");
    const size_t n = get16(reinterpret_cast<const uint8_t*>(data.data()) + i);
    i += 2;
    if (n > data.size() - i) damaged(dpNo, "segmento de blob truncado");
    out.append(data, i, n);
    i += n;
  }
  return out;
}

std::string Database::blob(const Table& table, const uint8_t id[8]) { return readBlob(table.relationId, id); }

void Database::loadCatalog() {
  if (catalogLoaded_) return;
  catalogLoaded_ = true;
  loadPageLists();
  loadFormatsAndCharsets();
  loadTables(loadDomains());
}

// RDB$PAGES: first the inventory pages (so transaction states can be read), then the pointer
// pages of every relation, seen through those states.
void Database::loadPageLists() {
  const OdsTraits& t = *traits_;
  std::map<int, std::map<int, uint32_t>> pointers;
  std::map<int, uint32_t> tips;
  auto readPages = [&](bool tipsOnly) {
    scanRelation(0, [&](const std::vector<uint8_t>& image, int) {
      SysRecord r{image, t.pages};
      const auto number = r.integer(sysf::kPageNumber), rel = r.integer(sysf::kPageRelation),
                 seq = r.integer(sysf::kPageSequence), type = r.integer(sysf::kPageType);
      if (!number || !rel || !seq || !type || *seq < 0) return;
      if (*type == kTipPage && tipsOnly) tips[*seq] = static_cast<uint32_t>(*number);
      if (*type == kPointerPage && !tipsOnly) pointers[*rel][*seq] = static_cast<uint32_t>(*number);
    });
  };
  // Only the system transaction writes these rows, so the first pass needs no inventory.
  bootstrap_ = true;
  readPages(true);
  bootstrap_ = false;
  for (const auto& [seq, n] : tips) {
    if (seq != static_cast<int>(tipPages_.size())) throw OdsError("RDB$PAGES: inventário de transações incompleto");
    tipPages_.push_back(n);
  }
  readPages(false);
  for (auto& [rel, bySeq] : pointers) {
    if (rel == 0) continue;
    std::vector<uint32_t> list;
    for (const auto& [seq, n] : bySeq) {
      if (seq != static_cast<int>(list.size()))
        throw OdsError("RDB$PAGES: páginas de ponteiros da tabela " + std::to_string(rel) + " fora de sequência");
      list.push_back(n);
    }
    pointerPages_[rel] = list;
  }
}

// RDB$FORMATS: which blob describes each format of each user table.
void Database::loadFormatsAndCharsets() {
  const OdsTraits& t = *traits_;
  std::map<std::pair<int, int>, std::array<uint8_t, 8>> formatBlobs;
  scanRelation(8, [&](const std::vector<uint8_t>& image, int) {
    SysRecord r{image, t.formats};
    const auto rel = r.integer(sysf::kFmtRelation), fmt = r.integer(sysf::kFmtFormat);
    const uint8_t* id = r.field(sysf::kFmtDescriptor);
    if (!rel || !fmt || !id) return;
    std::array<uint8_t, 8> b{};
    std::memcpy(b.data(), id, 8);
    formatBlobs[{*rel, *fmt}] = b;
  });
  formatBlobs_ = std::move(formatBlobs);

  // RDB$CHARACTER_SETS: names for the structure.
  scanRelation(28, [&](const std::vector<uint8_t>& image, int) {
    SysRecord r{image, t.characterSets};
    if (auto id = r.integer(sysf::kCsId)) charsets_[*id] = r.text(sysf::kCsName);
  });
}

// RDB$FIELDS: the domains behind the columns.
struct Database::Domain {
  int type = 0, subType = 0, length = 0, scale = 0, precision = 0;
  std::optional<int> charLength, charsetId;
  bool notNull = false, computed = false;
};

std::map<std::string, Database::Domain> Database::loadDomains() {
  const OdsTraits& t = *traits_;
  std::map<std::string, Domain> domains;
  scanRelation(2, [&](const std::vector<uint8_t>& image, int) {
    SysRecord r{image, t.fields};
    Domain d;
    d.type = r.integer(sysf::kFieldType).value_or(0);
    d.subType = r.integer(sysf::kFieldSubType).value_or(0);
    d.length = r.integer(sysf::kFieldLength).value_or(0);
    d.scale = r.integer(sysf::kFieldScale).value_or(0);
    d.precision = r.integer(sysf::kPrecision).value_or(0);
    d.charLength = r.integer(sysf::kCharLength);
    d.charsetId = r.integer(sysf::kCharsetId);
    d.notNull = r.integer(sysf::kFieldNullFlag).value_or(0) != 0;
    d.computed = r.hasBlob(sysf::kComputedBlr);
    domains[r.text(sysf::kFieldName)] = d;
  });
  return domains;
}

// RDB$RELATIONS: the tables; RDB$RELATION_FIELDS: their columns.
void Database::loadTables(const std::map<std::string, Domain>& domains) {
  const OdsTraits& t = *traits_;
  std::map<std::string, size_t> byName;
  std::map<size_t, std::vector<Column>> computed;
  scanRelation(6, [&](const std::vector<uint8_t>& image, int) {
    SysRecord r{image, t.relations};
    const auto id = r.integer(sysf::kRelId);
    if (!id || r.integer(sysf::kRelSystemFlag).value_or(0) != 0) return;
    Table tb;
    tb.name = r.text(sysf::kRelName);
    tb.relationId = *id;
    tb.format = r.integer(sysf::kRelFormat).value_or(0);
    tb.view = r.hasBlob(sysf::kRelViewBlr);
    tb.external = !r.text(sysf::kRelExternalFile).empty();
    const int type = r.integer(sysf::kRelType).value_or(0);
    tb.temporary = type == 4 || type == 5;
    byName[tb.name] = tables_.size();
    tables_.push_back(std::move(tb));
  });
  scanRelation(5, [&](const std::vector<uint8_t>& image, int) {
    SysRecord r{image, t.relationFields};
    auto it = byName.find(r.text(sysf::kRfRelationName));
    if (it == byName.end()) return;
    Column c;
    c.name = r.text(sysf::kRfFieldName);
    c.position = r.integer(sysf::kRfPosition).value_or(0);
    c.fieldId = r.integer(sysf::kRfFieldId).value_or(-1);
    auto d = domains.find(r.text(sysf::kRfFieldSource));
    if (d == domains.end()) throw OdsError("a coluna " + c.name + " usa um domínio que não está em RDB$FIELDS");
    c.fieldType = d->second.type;
    c.subType = d->second.subType;
    c.length = d->second.length;
    c.charLength = d->second.charLength;
    c.scale = d->second.scale;
    c.precision = d->second.precision;
    c.charsetId = d->second.charsetId;
    if (c.charsetId) {
      auto cs = charsets_.find(*c.charsetId);
      if (cs != charsets_.end()) c.charset = cs->second;
    }
    c.notNull = d->second.notNull || r.integer(sysf::kRfNullFlag).value_or(0) != 0;
    // Lengths decide buffer sizes later: a negative or impossible one is damage, not a size.
    if (c.length < 0 || c.length > 65535 || (c.charLength && (*c.charLength < 0 || *c.charLength > c.length)))
      throw OdsError("a coluna " + c.name + " tem um comprimento inválido nos metadados (" + std::to_string(c.length) +
                     (c.charLength ? "/" + std::to_string(*c.charLength) : std::string()) + ")");
    if (d->second.computed) computed[it->second].push_back(std::move(c));
    else tables_[it->second].columns.push_back(std::move(c));
  });
  const auto byPosition = [](const Column& a, const Column& b) {
    return a.position != b.position ? a.position < b.position : a.fieldId < b.fieldId;
  };
  for (auto& [index, cols] : computed) {
    std::stable_sort(cols.begin(), cols.end(), byPosition);
    for (Column& c : cols) tables_[index].computed.push_back(std::move(c.name));
  }
  for (Table& tb : tables_) std::stable_sort(tb.columns.begin(), tb.columns.end(), byPosition);
}

std::vector<Table> Database::tables() {
  loadCatalog();
  return tables_;
}

std::optional<Table> Database::findTable(const std::string& name) {
  loadCatalog();
  const std::string up = upper(name);
  const Table* best = nullptr;
  for (const Table& tb : tables_)
    if ((tb.name == name || tb.name == up) && (!best || tb.name > best->name)) best = &tb;
  if (!best) return std::nullopt;
  return *best;
}

const Database::Format& Database::format(int relationId, int number) {
  auto key = std::make_pair(relationId, number);
  auto it = formats_.find(key);
  if (it != formats_.end()) return *it->second;
  loadCatalog();
  auto blobIt = formatBlobs_.find(key);
  if (blobIt == formatBlobs_.end())
    throw OdsError("o formato " + std::to_string(number) + " da tabela " + std::to_string(relationId) +
                   " não está em RDB$FORMATS");
  const std::string raw = readBlob(8, blobIt->second.data());
  const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
  const size_t n = raw.size();
  const std::string where = "formato " + std::to_string(number) + " da tabela " + std::to_string(relationId);
  // Each field: dtype (1), scale (1), length (2), sub-type (2), flags (2), offset (4). From
  // ODS 11.1 a 2-byte count comes first and the default values of added fields follow.
  auto descAt = [&](size_t at) {
    FieldDesc d;
    d.dtype = p[at];
    d.scale = static_cast<int8_t>(p[at + 1]);
    d.length = get16(p + at + 2);
    d.subType = static_cast<int16_t>(get16(p + at + 4));
    d.offset = get32(p + at + 8);
    // length is 16 bits wide: never above kMaxRecord.
    if (d.dtype != 0 && (d.offset > kMaxRecord || (d.dtype == kVarying && d.length < 2) ||
                         (fixedLength(d.dtype) && fixedLength(d.dtype) != d.length)))
      throw OdsError(where + ": descrição de campo inválida");
    return d;
  };
  auto fmt = std::make_shared<Format>();
  size_t pos = 0, count = 0;
  if (traits_->formatCountPrefix) {
    if (n < 2) throw OdsError(where + ": descrição truncada");
    count = get16(p);
    pos = 2;
  } else {
    count = n / 12;
  }
  if (count > (n - pos) / 12) throw OdsError(where + ": descrição truncada");
  for (size_t i = 0; i < count; ++i, pos += 12) fmt->fields.push_back(descAt(pos));
  if (traits_->formatCountPrefix && n - pos >= 2) {
    size_t defaults = get16(p + pos);
    pos += 2;
    while (defaults-- > 0) {
      if (n - pos < 14) throw OdsError(where + ": valores padrão truncados");
      const unsigned field = get16(p + pos);
      FieldDesc d = descAt(pos + 2);
      pos += 14;
      if (d.length > n - pos) throw OdsError(where + ": valores padrão truncados");
      d.offset = 0;
      fmt->defaultDescs[field] = d;
      fmt->defaults[field].assign(p + pos, p + pos + d.length);
      pos += d.length;
    }
  }
  formats_[key] = fmt;
  return *fmt;
}

std::vector<FieldDesc> Database::currentFields(const Table& table) {
  const Format& current = format(table.relationId, table.format);
  std::vector<FieldDesc> out;
  for (const Column& c : table.columns) {
    const auto id = static_cast<size_t>(c.fieldId);
    out.push_back(id < current.fields.size() ? current.fields[id] : FieldDesc{});
  }
  return out;
}

void Database::scan(const Table& table, const std::function<void(const std::vector<Value>&)>& row) {
  blobBytes_ = 0;
  if (table.view || table.external || table.temporary)
    throw OdsError("a tabela " + table.name + " não guarda linhas no arquivo");
  const Format& current = format(table.relationId, table.format);
  std::vector<Value> values(table.columns.size());
  const Format* last = nullptr;
  int lastNumber = -1;
  scanRelation(table.relationId, [&](const std::vector<uint8_t>& image, int number) {
    if (number != lastNumber) {
      last = &format(table.relationId, number);
      lastNumber = number;
    }
    for (size_t i = 0; i < table.columns.size(); ++i) {
      Value& v = values[i];
      v = Value{};
      const unsigned id = static_cast<unsigned>(table.columns[i].fieldId);
      if (id < last->fields.size() && last->fields[id].dtype != 0) {
        const FieldDesc& d = last->fields[id];
        if (id / 8 >= image.size() || d.offset + d.length > image.size())
          throw OdsError("registro da tabela " + table.name + " menor que o seu formato");
        if (image[id / 8] & (1u << (id % 8))) continue;
        v.null = false;
        v.desc = d;
        v.data = image.data() + d.offset;
      } else if (auto def = current.defaults.find(id); def != current.defaults.end()) {
        // Rows stored before the column was added read as its default, as the engine shows them.
        v.null = false;
        v.desc = current.defaultDescs.at(id);
        v.data = def->second.data();
      }
    }
    row(values);
  });
}

void decodeDate(int32_t days, int* year, int* month, int* day) {
  // Days since 17 Nov 1858 to the proleptic Gregorian calendar, via days since 1 Mar of year 0.
  // 17 Nov 1858 is 40587 days before 1 Jan 1970, which is 719468 days after 1 Mar 0000.
  const int64_t z = static_cast<int64_t>(days) - 40587 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

void decodeTime(uint32_t ticks, int* hour, int* minute, int* second) {
  *hour = static_cast<int>(ticks / 36000000u);
  ticks %= 36000000u;
  *minute = static_cast<int>(ticks / 600000u);
  ticks %= 600000u;
  *second = static_cast<int>(ticks / 10000u);
}

}  // namespace ods
