// The Jet 4 writer with table shapes and values decoded from the input: whatever it accepts must
// read back through libmdb (mdbtools) with no error and the same tables, columns and row counts,
// and keep the password it was given.
// glib first: mdbtools.h includes it inside extern "C", which breaks its C++ templates otherwise.
#include <glib.h>
#include <mdbtools.h>

#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "access/jetwriter.h"
#include "fuzzing.h"

namespace {

QTemporaryDir* work = nullptr;

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint32_t word() { return uint32_t(byte()) | uint32_t(byte()) << 8; }
};

jet::Value makeValue(const jet::ColumnDef& c, Input& in) {
  using T = jet::ColumnType;
  const uint8_t k = in.byte();
  if (k % 5 == 0) return {};
  switch (c.type) {
    case T::Boolean:
    case T::Byte:
    case T::Integer:
    case T::Long: return qint64(int32_t(in.word() | in.word() << 16)) >> (k % 24);
    case T::Currency:
    case T::Numeric:
      return jet::Decimal{jet::Int128(int32_t(in.word() | in.word() << 16)) * (k % 3 ? 1 : 1000000007), k % 7};
    case T::Single:
    case T::Double: return double(int32_t(in.word() | in.word() << 16)) / (1 + k);
    case T::DateTime:
      return QDateTime(QDate(1900, 1, 1).addDays(in.word() * 2), QTime(0, 0).addSecs(int(in.word()) * (k % 3)));
    case T::Text:
    case T::Memo: {
      // Long memos cross LVAL pages; characters above 255 keep a text uncompressed.
      const int len = c.type == T::Memo && k % 4 == 1 ? int(in.word()) * 2 : in.byte();
      const char16_t base = k % 3 == 0 ? 0x20AC : 0x20;
      QString s(len, QChar(char16_t(base + in.byte() % 90)));
      if (len) s[0] = QChar(char16_t(0x20 + in.byte() % 200));
      return s;
    }
    case T::Ole:
    case T::Binary: {
      const int len = c.type == T::Ole && k % 4 == 1 ? int(in.word()) * 3 : in.byte();
      return QByteArray(len, char(in.byte()));
    }
  }
  return {};
}

struct Closer {
  void operator()(MdbHandle* h) const { mdb_close(h); }
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  fuzzing::ensureApp();
  work = new QTemporaryDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const QString path = work->filePath(QStringLiteral("f.mdb"));
  struct Written {
    QString name;
    std::vector<jet::ColumnDef> cols;
    int rows = 0;
  };
  std::vector<Written> tables;
  try {
    jet::WriterOptions o;
    if (in.byte() & 1) o.password.clear();
    jet::JetWriter w(path, o);
    const int ntables = 1 + in.byte() % 3;
    for (int t = 0; t < ntables; ++t) {
      Written wt;
      wt.name = QStringLiteral("T%1").arg(t);
      const int ncols = 1 + in.byte() % 8;
      for (int c = 0; c < ncols; ++c) {
        jet::ColumnDef d;
        d.name = QStringLiteral("C%1").arg(c);
        d.type = jet::ColumnType(in.byte() % 13);
        d.length = 1 + in.byte();
        if (d.length > 255) d.length = 255;
        d.precision = 1 + in.byte() % 28;
        d.scale = in.byte() % (d.precision + 1);
        wt.cols.push_back(d);
      }
      w.addTable(wt.name, wt.cols);
      const int nrows = in.byte() % 64;
      for (int r = 0; r < nrows; ++r) {
        std::vector<jet::Value> row;
        for (const auto& c : wt.cols) row.push_back(makeValue(c, in));
        try {
          w.appendRow(row);
          ++wt.rows;
        } catch (const jet::JetError&) {
          // A refused value leaves the table as it was.
        }
      }
      tables.push_back(wt);
    }
    w.finish();
  } catch (const jet::JetError&) {
    FUZZ_CHECK(false);  // shapes made here are always valid
  }

  QFile header(path);
  FUZZ_CHECK(header.open(QIODevice::ReadOnly));
  const QString expectedPassword = (data && size && (data[0] & 1)) ? QString() : QStringLiteral("wupo4836");
  FUZZ_CHECK(jet::readPassword(header.read(4096)) == expectedPassword);

  const QByteArray file = QFile::encodeName(path);
  std::unique_ptr<MdbHandle, Closer> mdb(mdb_open(file.constData(), MDB_NOFLAGS));
  FUZZ_CHECK(mdb);
  FUZZ_CHECK(mdb_read_catalog(mdb.get(), MDB_TABLE));
  for (const Written& wt : tables) {
    QByteArray name = wt.name.toUtf8();
    std::unique_ptr<MdbTableDef, Closer> t(mdb_read_table_by_name(mdb.get(), name.data(), MDB_TABLE));
    FUZZ_CHECK(t);
    FUZZ_CHECK(mdb_read_columns(t.get()));
    FUZZ_CHECK(t->num_cols == wt.cols.size());
    FUZZ_CHECK(int(t->num_rows) == wt.rows);
    const size_t bindSize = mdb->bind_size ? mdb->bind_size : MDB_BIND_SIZE;
    std::vector<std::vector<char>> values(wt.cols.size(), std::vector<char>(bindSize + 1, '\0'));
    std::vector<int> lengths(wt.cols.size(), 0);
    for (size_t i = 0; i < wt.cols.size(); ++i) mdb_bind_column(t.get(), int(i + 1), values[i].data(), &lengths[i]);
    mdb_rewind_table(t.get());
    int fetched = 0;
    while (mdb_fetch_row(t.get())) ++fetched;
    FUZZ_CHECK(fetched == wt.rows);
  }
  return 0;
}
