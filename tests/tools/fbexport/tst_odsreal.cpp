// The own reader on declarations real engines wrote (Firebird 2.1, 2.5, 3 and 4 with their EMPLOYEE
// sample): every table must give the rows and the structure the engine gives for the Firebird 3 file,
// apart from the rows the owners of the older copies changed, listed here.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "support/intakesupport.h"
#include "support/testenv.h"
#include "transmission/declarationfile.h"

namespace {
const QStringList kGenerations = {"11.1", "11.2", "12.0", "13.0"};

struct Edit {
  QString generations, table, pattern, replacement;  // an empty result drops the row
};

// The older copies keep pre-euro currencies and salaries and a line feed after each project
// description; the 2.1 copy an edited customer (the row's only version, written by transaction 851,
// below the file's oldest interesting transaction 860, so committed).
// clang-format off
const Edit kOwnerChanges[] = {
  {"11.1 11.2",      "COUNTRY",        "'Italy', 'Euro'",             "'Italy', 'Lira'"},
  {"11.1 11.2",      "COUNTRY",        "'France', 'Euro'",            "'France', 'FFranc'"},
  {"11.1 11.2",      "COUNTRY",        "'Germany', 'Euro'",           "'Germany', 'D-Mark'"},
  {"11.1 11.2",      "COUNTRY",        "'Netherlands', 'Euro'",       "'Netherlands', 'Guilder'"},
  {"11.1 11.2",      "COUNTRY",        "'Belgium', 'Euro'",           "'Belgium', 'BFranc'"},
  {"11.1 11.2",      "COUNTRY",        "'Austria', 'Euro'",           "'Austria', 'Schilling'"},
  {"11.1 11.2",      "COUNTRY",        "^.*'(Russia|Romania)'.*$",    ""},
  {"11.1 11.2",      "EMPLOYEE",       "'Italy', 33000.00\\)",                "'Italy', 99000000.00)"},
  {"11.1 11.2",      "EMPLOYEE",       "'France', 38500.00\\)",               "'France', 390500.00)"},
  {"11.1 11.2",      "SALARY_HISTORY", "'elaine', 30000.00, 10\\)",           "'elaine', 90000000.00, 10)"},
  {"11.1 11.2",      "SALARY_HISTORY", "'elaine', 35000.00, 10\\)",           "'elaine', 355000.00, 10)"},
  {"11.1",           "CUSTOMER",       "'Signature Design'",          "'Signature Design  then'"},
  {"11.1 11.2 13.0", "PROJECT",        "\\.'(, (\\d+|NULL), ')",      ".' || char(10)\\1"},
};
// clang-format on

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList sortedLines(const QByteArray& text) {
  QStringList lines = QString::fromLatin1(text).split("\r\n", Qt::SkipEmptyParts);
  lines.sort();
  return lines;
}
}  // namespace

class TstOdsreal : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void tablesMatchTheEngine_data();
  void tablesMatchTheEngine();
  void generationNamedInTheIntakesMessages_data();
  void generationNamedInTheIntakesMessages();

 private:
  QString file(const QString& generation) const { return dir_.filePath("employee_ods" + generation + ".fdb"); }
  FirebirdLock lock_;
  QTemporaryDir dir_;
};

void TstOdsreal::initTestCase() {
  QVERIFY(dir_.isValid());
  for (const QString& g : kGenerations) {
    const RunResult r = runProgram("xz", {"-dc", testData("firebird-real/employee_ods" + g + ".fdb.xz")});
    QVERIFY2(r.exitCode == 0 && !r.out.isEmpty(), r.err);
    QFile f(file(g));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(r.out) == r.out.size());
  }
  // The engine may rewrite the header of a file it attaches to: it gets a copy of its own.
  QVERIFY(QFile::copy(file("12.0"), dir_.filePath("motor.fdb")));
}

void TstOdsreal::tablesMatchTheEngine_data() {
  QTest::addColumn<QString>("generation");
  QTest::addColumn<QString>("table");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("said");  // in standard error
  struct Case {
    const char* table;
    int exitCode;
    const char* said;
    bool arraysHeld;  // the Firebird 3 copy keeps its arrays empty; the others refuse them
  };
  // clang-format off
  const Case cases[] = {
    {"COUNTRY",          0, "",                                   false},
    {"CUSTOMER",         0, "",                                   false},
    {"DEPARTMENT",       0, "",                                   false},
    {"EMPLOYEE",         0, "coluna calculada FULL_NAME",         false},
    {"EMPLOYEE_PROJECT", 0, "",                                   false},
    {"JOB",              2, "LANGUAGE_REQ",                       true},
    {"PROJECT",          0, "",                                   false},
    {"PROJ_DEPT_BUDGET", 2, "QUART_HEAD_CNT",                     true},
    {"SALARY_HISTORY",   0, "coluna calculada NEW_SALARY",        false},
    {"SALES",            0, "coluna calculada AGED",              false},
    {"PHONE_LIST",       2, "a tabela PHONE_LIST não guarda linhas", false},
  };
  // clang-format on
  for (const QString& g : kGenerations)
    for (const Case& c : cases) {
      const bool refusedArray = c.arraysHeld && g != "12.0";
      QTest::newRow(qPrintable(g + " " + c.table))
          << g << c.table << (c.arraysHeld ? (refusedArray ? 2 : 0) : c.exitCode)
          << (c.arraysHeld && !refusedArray ? QString() : QString::fromUtf8(c.said));
    }
}

void TstOdsreal::tablesMatchTheEngine() {
  QFETCH(QString, generation);
  QFETCH(QString, table);
  QFETCH(int, exitCode);
  QFETCH(QString, said);
  const QString rows = dir_.filePath("linhas.txt"), cols = dir_.filePath("colunas.txt");
  const QString refRows = dir_.filePath("ref-linhas.txt"), refCols = dir_.filePath("ref-colunas.txt");
  for (const QString& f : {rows, cols, refRows, refCols}) QFile::remove(f);
  // The Firebird 3 file through the engine; the others with the reader chosen from the file, which
  // must be the own one (the Firebird 3 file is read by the own reader when asked to).
  QStringList own = {"-D", file(generation), "-Si", "-V", table, "-F", rows, "-E", cols};
  if (generation == "12.0") own.append({"--leitor", "proprio"});
  const RunResult r = runProgram(builtProgram("fbexport"), own);
  QCOMPARE(r.exitCode, exitCode);
  if (said.isEmpty()) QVERIFY2(r.err.isEmpty(), r.err);
  else QVERIFY2(QString::fromUtf8(r.err).contains(said), r.err);
  if (exitCode != 0) {
    QVERIFY(!QFile::exists(rows));
    return;
  }
  const RunResult e = runProgram(builtProgram("fbexport"), {"-D", dir_.filePath("motor.fdb"), "-Si", "-V", table, "-F",
                                                            refRows, "-E", refCols, "--leitor", "motor"});
  QVERIFY2(e.exitCode == 0, e.err);
  // The same columns in RDB$FIELD_POSITION order, whatever engine wrote the file.
  QCOMPARE(QString::fromLatin1(readAll(cols)), QString::fromLatin1(readAll(refCols)));

  // The same rows (each file keeps them in its own storage order), after the owners' changes.
  QStringList expected;
  for (QString line : QString::fromLatin1(readAll(refRows)).split("\r\n", Qt::SkipEmptyParts)) {
    for (const Edit& edit : kOwnerChanges)
      if (edit.table == table && edit.generations.split(' ').contains(generation))
        line.replace(QRegularExpression(edit.pattern), edit.replacement);
    if (!line.isEmpty()) expected << line;
  }
  expected.sort();
  const QStringList got = sortedLines(readAll(rows));
  for (qsizetype i = 0; i < qMin(got.size(), expected.size()); ++i) QCOMPARE(got[i], expected[i]);
  QCOMPARE(got.size(), expected.size());
}

void TstOdsreal::generationNamedInTheIntakesMessages_data() {
  QTest::addColumn<QString>("generation");
  QTest::addColumn<QString>("words");
  // clang-format off
  QTest::newRow("11.1") << "11.1" << "Firebird 2.1 (estrutura em disco 11.1)";
  QTest::newRow("11.2") << "11.2" << "Firebird 2.5 (estrutura em disco 11.2)";
  QTest::newRow("12.0") << "12.0" << "Firebird 3 (estrutura em disco 12.0)";
  QTest::newRow("13.0") << "13.0" << "Firebird 4 (estrutura em disco 13.0)";
  // clang-format on
}

void TstOdsreal::generationNamedInTheIntakesMessages() {
  QFETCH(QString, generation);
  QFETCH(QString, words);
  QFile f(file(generation));
  QVERIFY(f.open(QIODevice::ReadOnly));
  const DeclarationFileCheck check = checkDeclarationHeader(f.read(1024), f.size());
  QCOMPARE(check.kind, DeclarationFileCheck::Ok);
  QCOMPARE(engineGeneration(check.odsMajor, check.odsMinor), words);
  const QString m = unreadableTableMessage("TAB03003", "página 7: ciclo na cadeia de fragmentos", words);
  QVERIFY2(m.startsWith("O arquivo escolhido está danificado ou incompleto: a tabela TAB03003"), qPrintable(m));
  QVERIFY2(m.endsWith("O arquivo foi gravado por " + words + "."), qPrintable(m));
}

QTEST_GUILESS_MAIN(TstOdsreal)
#include "tst_odsreal.moc"
