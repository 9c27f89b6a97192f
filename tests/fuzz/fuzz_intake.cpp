// An export file of the declaration tool (one INSERT per CRLF line, Windows-1252) loaded into the
// working database and the Access file, as the intake does for each table.
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstring>

#include "access/jetwriter.h"
#include "fuzzing.h"
#include "registry/localdb.h"
#include "transmission/intake.h"

namespace {
QTemporaryDir* work = nullptr;
DbConnection* db = nullptr;

QString schema() {
  QFile f(QStringLiteral(ZIDE_SOURCE_DIR "/transmission/schema/zide_tables.sql"));
  FUZZ_CHECK(f.open(QIODevice::ReadOnly));
  // Whole-line comments out; the connection splits the rest at ';'.
  QStringList kept;
  for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
    if (!line.trimmed().startsWith(QLatin1String("--"))) kept << line;
  return kept.join(QLatin1Char('\n'));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  fuzzing::ensureApp();
  work = new QTemporaryDir();
  db = new DbConnection(work->filePath(QStringLiteral("zide.db")), true, schema());
  // Speed only: the file is thrown away.
  db->exec(QStringLiteral("PRAGMA synchronous=OFF"));
  db->query(QStringLiteral("PRAGMA journal_mode=MEMORY"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the table, so statements for the wrong table are tried too.
  static const QStringList tables = {QStringLiteral("TAB01001"), QStringLiteral("HEADERS"), QStringLiteral("SETTINGS")};
  if (size == 0) return 0;
  const QString table = tables[data[0] % tables.size()];
  const QString path = work->filePath(QStringLiteral("export.txt"));
  {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
  }
  Intake::Result outcome;
  {
    // Into the Access file too, as the intake does: a row either reaches both or is counted lost.
    jet::JetWriter access(work->filePath(QStringLiteral("zide.mdb")));
    Intake::loadTable(*db, table, path, outcome, &access);
    access.finish();
  }
  FUZZ_CHECK(outcome.tables.size() == 1 && outcome.tables[0].rows == outcome.loadedStatements &&
             outcome.tables[0].lost == outcome.failedStatements);

  // Every statement of the file (a CR LF line with more than SQL's blanks) is either loaded or
  // counted as lost: nothing disappears silently.
  int statements = 0;
  const QByteArray text(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
  qsizetype from = 0;
  while (from <= text.size()) {
    qsizetype to = text.indexOf("\r\n", from);
    if (to < 0) to = text.size();
    bool blank = true;
    for (qsizetype i = from; i < to && blank; ++i) blank = std::strchr(" \t\r\n\f\v", text[i]) != nullptr && text[i];
    if (!blank) ++statements;
    from = to + 2;
  }
  FUZZ_CHECK(outcome.loadedStatements + outcome.failedStatements == statements);
  FUZZ_CHECK(outcome.failedStatements == 0 || !outcome.firstFailedError.isEmpty());
  // No transaction is left open for the next table.
  FUZZ_CHECK(db->db().transaction());
  db->db().rollback();
  return 0;
}
