// Reading Access files: the helper's output format, and the helper itself on mutated files.
//
// libmdb never runs in this process. On hostile input it crashes, loops and reads out of bounds
// (the reason the program reads Access files through the zide-mdbread helper); in-process, this
// target would report libmdb's faults, not ours. What is ours and fuzzed here:
//  - the parser of the helper's output: any bytes give one whole table or AccessError, and what the
//    helper's own encoder writes always reads back the same;
//  - the run of the helper under its limits: the input, as an Access file, goes through
//    ReadAccessTable, and whatever libmdb does with it in the child (crash, endless loop, memory)
//    must come back as a table or AccessError, within the time limit.
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "fuzzing.h"
#include "mdbdump.h"
#include "registry/importaccess.h"

namespace {
QTemporaryDir* work = nullptr;
AccessReader* reader = nullptr;

void checkShape(const AccessTable& t) {
  for (const QStringList& row : t.rows) FUZZ_CHECK(row.size() == t.columns.size());
}

QByteArray encode(const QList<QByteArray>& columns, const QList<QList<QByteArray>>& rows) {
  std::string out(mdbdump::kHeader);
  mdbdump::columnCount(out, static_cast<std::size_t>(columns.size()));
  for (const QByteArray& c : columns) mdbdump::field(out, std::string_view(c.constData(), size_t(c.size())));
  for (const auto& r : rows) {
    out += mdbdump::kRow;
    for (const QByteArray& v : r) mdbdump::field(out, std::string_view(v.constData(), size_t(v.size())));
  }
  out += mdbdump::kEnd;
  return QByteArray::fromStdString(out);
}

QList<QByteArray> utf8(const QStringList& values) {
  QList<QByteArray> out;
  for (const QString& v : values) out << v.toUtf8();
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  fuzzing::ensureApp();
  work = new QTemporaryDir();
  reader = new AccessReader(AccessReader::standard());
  reader->program = QStringLiteral(ZIDE_BIN_DIR "/zide-mdbread");
  // Short: an input that loops costs this much, and libFuzzer's own -timeout stays far above it.
  reader->limits.timeoutMs = 2000;
  InstallAccessReader(reader);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray in = fuzzing::bytes(data, size);

  // 1. The input as the helper's output.
  try {
    const AccessTable t = ParseAccessDump(in);
    checkShape(t);
    QList<QList<QByteArray>> rows;
    for (const QStringList& r : t.rows) rows << utf8(r);
    const AccessTable again = ParseAccessDump(encode(utf8(t.columns), rows));
    FUZZ_CHECK(again.columns == t.columns && again.rows == t.rows);
  } catch (const AccessError&) {}

  // 2. The input's lines as the values of a table the helper's encoder writes: read back whole.
  const QList<QByteArray> lines = in.split('\n');
  const qsizetype n = 1 + (size ? data[0] % 4 : 0);
  QList<QByteArray> columns = lines.mid(0, n);
  while (columns.size() < n) columns << QByteArray();
  QList<QList<QByteArray>> rows;
  for (qsizetype i = n; i + n <= lines.size(); i += n) rows << lines.mid(i, n);
  const AccessTable t = ParseAccessDump(encode(columns, rows));
  FUZZ_CHECK(t.columns.size() == n && t.rows.size() == rows.size());
  for (qsizetype c = 0; c < n; ++c) FUZZ_CHECK(t.columns[c] == QString::fromUtf8(columns[c]));
  for (qsizetype r = 0; r < rows.size(); ++r)
    for (qsizetype c = 0; c < n; ++c) FUZZ_CHECK(t.rows[r][c] == QString::fromUtf8(rows[r][c]));

  // 3. The input as an Access file, read by the helper in a child process under its limits.
  const QString path = work->filePath(QStringLiteral("arquivo.mdb"));
  {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(in) == in.size());
  }
  try {
    checkShape(ReadAccessTable(path, QStringLiteral("tblContribuinte")));
  } catch (const AccessError&) {}
  return 0;
}
