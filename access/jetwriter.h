#pragma once
// Writer of Jet 4 (Access 2000-2003) database files, streaming: rows go to disk page by page, so
// memory holds only the page being filled and a few bytes per written page.
//
//   jet::JetWriter w(path);                // with the program's database password
//   w.addTable("TAB03003", {{"ID_03003", jet::ColumnType::Long}, ...});
//   w.appendRow({jet::Value(qint64(1)), ...});
//   w.addTable(...);                           // closes the previous table
//   w.finish();                                // catalog, table definitions, usage maps
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <variant>
#include <vector>

namespace jet {

// 128-bit integers hold Jet's exact decimals (up to 28 digits); a GCC/Clang extension, marked as
// such so pedantic builds accept it.
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

// Refused input (wrong value for a column, names the catalog cannot hold) or a failed write.
class JetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The file could not be written (disk full, I/O error): the whole file is lost, not one row.
class JetWriteError : public JetError {
 public:
  using JetError::JetError;
};

// Binary is the catalog's short byte column (up to 255 bytes); the others are the usual Access types.
enum class ColumnType {
  Boolean,
  Byte,
  Integer,
  Long,
  Currency,
  Single,
  Double,
  DateTime,
  Text,
  Memo,
  Ole,
  Numeric,
  Binary
};

struct ColumnDef {
  QString name;
  ColumnType type = ColumnType::Text;
  int length = 255;    // Text: characters (1..255); Binary: bytes (1..255)
  int precision = 18;  // Numeric: 1..28 digits
  int scale = 0;       // Numeric: 0..precision
};

// An exact decimal: unscaled * 10^-scale.
struct Decimal {
  Int128 unscaled = 0;
  int scale = 0;
  // "-123.4500", "7", ".5"; nullopt-like failure is reported by ok=false.
  static Decimal parse(const QString& text, bool* ok);
  QString toString() const;
};

// One cell: null, integer, floating point, exact decimal, date-time, text or bytes. Booleans
// are integers (0 false, anything else true). Text is also taken for the other column types as
// the export tool writes values: numbers as they are, dates as "dd/MM/yyyy HH:mm:ss".
class Value {
 public:
  Value() = default;  // null
  Value(qint64 v) : v_(v) {}
  Value(int v) : v_(qint64(v)) {}
  Value(double v) : v_(v) {}
  Value(Decimal v) : v_(v) {}
  Value(const QDateTime& v) : v_(v) {}
  Value(const QString& v) : v_(v) {}
  Value(const char* v) : v_(QString::fromUtf8(v)) {}
  Value(const QByteArray& v) : v_(v) {}
  bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
  const auto& variant() const { return v_; }

 private:
  std::variant<std::monostate, qint64, double, Decimal, QDateTime, QString, QByteArray> v_;
};

struct WriterOptions {
  // Empty: a database without password. Up to 20 characters.
  QString password = QStringLiteral("wupo4836");
  // When the user's tables were made (their catalog rows); fixed in tests. The header keeps the
  // engine's creation date, carried with the SIDs it belongs to (access/README.md).
  QDateTime created = QDateTime::currentDateTime();
};

class JetWriter {
 public:
  explicit JetWriter(const QString& path, const WriterOptions& options = {});
  ~JetWriter();
  JetWriter(const JetWriter&) = delete;
  JetWriter& operator=(const JetWriter&) = delete;

  // Starts a table; following rows go to it. Names: letters, digits, blanks and _ (the catalog's
  // index holds them in Access's sort codes, which this writer knows only for those).
  void addTable(const QString& name, const std::vector<ColumnDef>& columns);
  // One row of the current table, one value per column; throws JetError on a value the column
  // cannot hold exactly.
  void appendRow(std::span<const Value> values);
  void appendRow(std::initializer_list<Value> values) {
    appendRow(std::span<const Value>(values.begin(), values.size()));
  }
  // Writes the catalog and closes the file. Nothing is usable before this returned.
  void finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

// The database password kept in a header page (the file's first 4096 bytes): empty without one.
QString readPassword(const QByteArray& headerPage);

// The Access column for a Firebird column type as the export tool declares it ("VARCHAR(60)",
// "NUMERIC(15,2)", "BLOB SUB_TYPE TEXT", "BIGINT"...). ok=false for an unknown type.
ColumnDef columnForFirebirdType(const QString& name, const QString& firebirdType, bool* ok = nullptr);

}  // namespace jet
