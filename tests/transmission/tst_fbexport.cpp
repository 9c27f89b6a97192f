#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "base/cp1252.h"
#include "registry/localdb.h"
#include "support/intakesupport.h"
#include "support/testenv.h"
#include "transmission/intake.h"

namespace {
QString fbexport() { return builtProgram("fbexport"); }

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

RunResult exportTable(const QString& gdb, const QString& table, const QString& out) {
  return runProgram(fbexport(), {"-D", gdb, "-U", "SYSDBA", "-P", "gatehouse", "-Si", "-V", table, "-F", out});
}
}  // namespace

class TstFbexport : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void everyColumnTypeAsOneLine();
  void icuLookedForOnlyWhereItIs();
  void tableNamesAndQuotedIdentifiers();
  void failures_data();
  void failures();
  void severalProcessesReadOneFile();
  void fileNameTheEngineCannotOpenInPlace();
  void wholeDeclarationLoadsIntoTheTemplate();

 private:
  FirebirdLock lock_;
  QTemporaryDir dir_;
  QString typesGdb_;
};

void TstFbexport::initTestCase() {
  QVERIFY(QFileInfo(fbexport()).isExecutable());
  typesGdb_ = dir_.filePath("tipos.gdb");
  // Written in UTF-8 for isql; the database keeps Windows-1252.
  const QString script =
      "SET NAMES UTF8;\n"
      "CREATE DATABASE '" +
      typesGdb_ +
      "' USER 'SYSDBA' PASSWORD 'x' DEFAULT CHARACTER SET WIN1252;\n"
      "CREATE TABLE TIPOS (ID INTEGER NOT NULL, TXT VARCHAR(40), FIXO CHAR(4), GRANDE BIGINT, VALOR NUMERIC(15,2),\n"
      "  QTD NUMERIC(18,4), PEQ SMALLINT, REAL1 DOUBLE PRECISION, F FLOAT, DIA DATE, HORA TIME, MOMENTO TIMESTAMP,\n"
      "  OK BOOLEAN, OBS BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY);\n"
      "INSERT INTO TIPOS VALUES (1, 'D''Ávila ação €', 'AB', 9007199254740993, -1234.05, 0.0001, -7, 0.1, 1.5,\n"
      "  '2023-01-31', '13:14:15', '2024-02-29 23:59:58', TRUE,\n"
      "  'linha 1' || ascii_char(13) || ascii_char(10) || 'linha 2', x'00FF10');\n"
      "INSERT INTO TIPOS (ID, TXT, VALOR) VALUES (2, '', -0.05);\n"
      "INSERT INTO TIPOS (ID, TXT) VALUES (3, ascii_char(10) || 'x''' || ascii_char(13));\n"
      "CREATE TABLE \"Tab x\" (\"id\" INTEGER, NOME VARCHAR(5));\n"
      "INSERT INTO \"Tab x\" VALUES (5, 'a');\n"
      "CREATE TABLE VAZIA (ID INTEGER);\n"
      "COMMIT;\n";
  const RunResult r = runProgram("isql-fb", {"-q"}, script.toUtf8());
  QVERIFY2(r.exitCode == 0 && QFile::exists(typesGdb_), r.err + r.out);
}

void TstFbexport::everyColumnTypeAsOneLine() {
  const QString out = dir_.filePath("tipos.txt");
  const RunResult r = exportTable(typesGdb_, "TIPOS", out);
  QVERIFY2(r.exitCode == 0, r.err);
  const QByteArray head =
      "INSERT INTO TIPOS (ID, TXT, FIXO, GRANDE, VALOR, QTD, PEQ, REAL1, F, DIA, HORA, MOMENTO, OK, OBS, BIN) VALUES (";
  const QByteArray expected =
      head +
      toCp1252(
          "1, 'D''Ávila ação €', 'AB  ', 9007199254740993, -1234.05, 0.0001, -7, 0.1, 1.5, "
          "'31/01/2023 00:00:00', '13:14:15', '29/02/2024 23:59:58', 1, "
          "'linha 1' || char(13, 10) || 'linha 2', X'00FF10');\r\n") +
      head + "2, '', NULL, NULL, -0.05, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);\r\n" + head +
      "3, char(10) || 'x''' || char(13), NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      "NULL);\r\n";
  QCOMPARE(readAll(out), expected);

  // The same text as SQLite reads it: the line breaks come back inside the value.
  {
    DbConnection db(
        dir_.filePath("tipos.db"), true,
        "CREATE TABLE TIPOS (ID, TXT, FIXO, GRANDE, VALOR, QTD, PEQ, REAL1, F, DIA, HORA, MOMENTO, OK, OBS, BIN)");
    for (const QString& line : fromCp1252(readAll(out)).split("\r\n", Qt::SkipEmptyParts)) db.exec(line);
    const auto rows = db.query("SELECT TXT, OBS, hex(BIN) AS B, GRANDE FROM TIPOS ORDER BY ID");
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].value("TXT").toString(), QString("D'Ávila ação €"));
    QCOMPARE(rows[0].value("OBS").toString(), QString("linha 1\r\nlinha 2"));
    QCOMPARE(rows[0].value("B").toString(), QString("00FF10"));
    QCOMPARE(rows[0].value("GRANDE").toLongLong(), 9007199254740993LL);
    QCOMPARE(rows[2].value("TXT").toString(), QString("\nx'\r"));
  }

  // An empty table gives an empty file.
  const QString empty = dir_.filePath("vazia.txt");
  QCOMPARE(exportTable(typesGdb_, "VAZIA", empty).exitCode, 0);
  QVERIFY(QFile::exists(empty));
  QCOMPARE(QFileInfo(empty).size(), 0);
}

// The engine asks for ICU under some 150 version numbers; the tool answers the absent ones itself
// rather than letting the loader search every library folder for each (twice the time of an export).
void TstFbexport::icuLookedForOnlyWhereItIs() {
  const QString log = dir_.filePath("ld");
  qputenv("LD_DEBUG", "libs");
  qputenv("LD_DEBUG_OUTPUT", log.toLocal8Bit());
  const RunResult r = exportTable(typesGdb_, "Tab x", dir_.filePath("icu.txt"));
  qunsetenv("LD_DEBUG");
  qunsetenv("LD_DEBUG_OUTPUT");
  QVERIFY2(r.exitCode == 0, r.err);
  // One log per process (a sanitizer build starts itself again): ICU found in at most three searches.
  int most = 0;
  for (const QString& f : QDir(dir_.path()).entryList({"ld.*"})) {
    int searched = 0;
    for (const QByteArray& line : readAll(dir_.filePath(f)).split('\n'))
      searched += line.contains("find library=libicu");
    most = qMax(most, searched);
    QFile::remove(dir_.filePath(f));
  }
  QVERIFY2(most > 0 && most <= 3, qPrintable(QString::number(most)));
}

void TstFbexport::tableNamesAndQuotedIdentifiers() {
  const QString out = dir_.filePath("nomes.txt");
  QCOMPARE(exportTable(typesGdb_, "tipos", out).exitCode, 0);
  QVERIFY(readAll(out).startsWith("INSERT INTO TIPOS (ID, "));
  QCOMPARE(exportTable(typesGdb_, "Tab x", out).exitCode, 0);
  QCOMPARE(readAll(out), QByteArray("INSERT INTO \"Tab x\" (\"id\", NOME) VALUES (5, 'a');\r\n"));
  // A name with an apostrophe is looked up, not run.
  const RunResult r = exportTable(typesGdb_, "X' or '1'='1", out);
  QCOMPARE(r.exitCode, 2);
  QVERIFY(r.err.contains("não existe"));
}

void TstFbexport::failures_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("message");
  const QString out = "@OUT@";
  QTest::newRow("no arguments") << QStringList{} << 1 << "uso: fbexport";
  QTest::newRow("no -Si") << QStringList{"-D", "@GDB@", "-V", "TIPOS", "-F", out} << 1 << "uso: fbexport";
  QTest::newRow("unknown option") << QStringList{"-D", "@GDB@", "-Si", "-V", "TIPOS", "-F", out, "-X"} << 1
                                  << "opção desconhecida: -X";
  QTest::newRow("missing value") << QStringList{"-Si", "-D"} << 1 << "falta o valor da opção -D";
  QTest::newRow("missing file") << QStringList{"-D", "@DIR@/nada.gdb", "-Si", "-V", "TIPOS", "-F", out} << 2
                                << "arquivo não encontrado";
  QTest::newRow("not a database") << QStringList{"-D", "@DIR@/lixo.gdb", "-Si", "-V", "TIPOS", "-F", out} << 2
                                  << "falha ao abrir o arquivo";
  QTest::newRow("missing table") << QStringList{"-D", "@GDB@", "-Si", "-V", "TAB09999", "-F", out} << 2
                                 << "a tabela TAB09999 não existe";
  QTest::newRow("output folder missing")
      << QStringList{"-D", "@GDB@", "-Si", "-V", "TIPOS", "-F", "@DIR@/sem/pasta.txt"} << 3 << "não foi possível criar";
  // clang-format on
}

void TstFbexport::failures() {
  QFETCH(QStringList, args);
  QFETCH(int, exitCode);
  QFETCH(QString, message);
  {
    QFile junk(dir_.filePath("lixo.gdb"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(40000, 'x'));
  }
  const QString out = dir_.filePath("falha.txt");
  QFile::remove(out);
  for (QString& a : args) a.replace("@GDB@", typesGdb_).replace("@DIR@", dir_.path()).replace("@OUT@", out);
  const RunResult r = runProgram(fbexport(), args);
  QCOMPARE(r.exitCode, exitCode);
  QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err);
  // A failed export never leaves a file that could pass for a finished one.
  QVERIFY(!QFile::exists(out));
}

void TstFbexport::severalProcessesReadOneFile() {
  const QString gdb = dir_.filePath("grande.gdb");
  QVERIFY(makeDeclaration(gdb, {"--rows-each", "0", "--rows", "TAB03004=40000", "--rows", "TAB03005=40000"}));
  // A caller's own Firebird set-up (the packaged one lets one process in at a time) is not used.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("FIREBIRD", "/usr/lib/x86_64-linux-gnu/firebird/3.0");
  QList<QProcess*> procs;
  const QStringList tables{"TAB03004", "TAB03005", "TAB03004", "TAB03005"};
  for (int i = 0; i < tables.size(); ++i) {
    auto* p = new QProcess(this);
    p->setProcessEnvironment(env);
    p->start(fbexport(), {"-D", gdb, "-U", "SYSDBA", "-P", "x", "-Si", "-V", tables[i], "-F",
                          dir_.filePath(QString("par%1.txt").arg(i))});
    procs << p;
  }
  for (int i = 0; i < procs.size(); ++i) {
    QVERIFY(procs[i]->waitForFinished(60000));
    QVERIFY2(procs[i]->exitCode() == 0, procs[i]->readAllStandardError());
  }
  qDeleteAll(procs);
  const QByteArray a = readAll(dir_.filePath("par0.txt"));
  QCOMPARE(a.count("\r\n"), 40000);
  QCOMPARE(readAll(dir_.filePath("par2.txt")), a);
  QCOMPARE(readAll(dir_.filePath("par3.txt")), readAll(dir_.filePath("par1.txt")));
}

void TstFbexport::fileNameTheEngineCannotOpenInPlace() {
  // "x:..." reads as a server name to the engine; the tool reads such a file from a private copy,
  // and never asks the network.
  const QString folder = dir_.filePath("Declarações: 2024");
  QVERIFY(QDir().mkpath(folder));
  QVERIFY(QFile::copy(typesGdb_, folder + "/zide.gdb"));
  QTemporaryDir own;
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TMPDIR", own.path());
  env.remove("XDG_RUNTIME_DIR");  // the engine's files go to a folder of the run, in TMPDIR
  p.setProcessEnvironment(env);
  const QString out = dir_.filePath("doispontos.txt");
  p.start(fbexport(), {"-D", folder + "/zide.gdb", "-U", "SYSDBA", "-P", "x", "-Si", "-V", "TAB X", "-F", out});
  QVERIFY(p.waitForFinished(60000));
  QCOMPARE(p.exitCode(), 2);  // a table that is not there: the copy was opened
  QVERIFY2(p.readAllStandardError().contains("não existe"), "the file itself was not read");
  p.start(fbexport(), {"-D", folder + "/zide.gdb", "-U", "SYSDBA", "-P", "x", "-Si", "-V", "Tab x", "-F", out});
  QVERIFY(p.waitForFinished(60000));
  QVERIFY2(p.exitCode() == 0, p.readAllStandardError());
  QCOMPARE(readAll(out), QByteArray("INSERT INTO \"Tab x\" (\"id\", NOME) VALUES (5, 'a');\r\n"));
  // The engine's complaint about the copy names the file as the caller gave it.
  const QByteArray whole = readAll(folder + "/zide.gdb");
  const int page = quint8(whole[16]) | quint8(whole[17]) << 8;
  QFile cut(folder + "/cortado.gdb");
  QVERIFY(cut.open(QIODevice::WriteOnly));
  cut.write(whole.left(whole.size() / 2 / page * page));
  cut.close();
  p.start(fbexport(), {"-D", folder + "/cortado.gdb", "-U", "SYSDBA", "-P", "x", "-Si", "-V", "Tab x", "-F", out});
  QVERIFY(p.waitForFinished(60000));
  QCOMPARE(p.exitCode(), 2);
  const QString said = QString::fromUtf8(p.readAllStandardError());
  QVERIFY2(said.contains(folder + "/cortado.gdb") && !said.contains(own.path()), qPrintable(said));
  // No copy stays behind, whether the export worked or not: the run's folder goes with it.
  QCOMPARE(QDir(own.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TstFbexport::wholeDeclarationLoadsIntoTheTemplate() {
  // A folder with an accented name, as a user's documents folder may have.
  const QString folder = dir_.filePath("Declarações");
  QVERIFY(QDir().mkpath(folder));
  const QString gdb = folder + "/zide.gdb";
  QVERIFY(makeDeclaration(gdb, {"--company", "0011111110011,11222333000181", "--company", "0022222220022",
                                "--references", "4", "--rows-each", "3"}));
  const QString work = dir_.filePath("zide.db");
  QFile::remove(work);
  QVERIFY(QFile::copy(builtProgram("zide_limpo.db"), work));
  QFile::setPermissions(work, QFile::permissions(work) | QFileDevice::WriteOwner);
  DbConnection db(work);
  Intake::Result outcome;
  for (const QString& t : Intake::tables()) {
    const QString out = dir_.filePath("export" + t + ".txt");
    const RunResult r = exportTable(gdb, t, out);
    QVERIFY2(r.exitCode == 0, qPrintable(t + ": " + r.err));
    Intake::loadTable(db, t, out, outcome);
  }
  QCOMPARE(outcome.failedStatements, 0);
  QCOMPARE(outcome.loadedStatements, 46 * 3 + 2 + 8);
  QCOMPARE(db.query("SELECT * FROM TAB03003").size(), 8);
  const auto obs = db.query("SELECT OBSERVACAO FROM TAB03011 WHERE OBSERVACAO IS NOT NULL ORDER BY ID_03011");
  QVERIFY(!obs.isEmpty());
  QVERIFY(obs.first().value(0).toString().contains("\r\nSegunda linha de "));
  const auto words = db.query("SELECT RAZAO_SOCIAL FROM TAB01001 WHERE RAZAO_SOCIAL LIKE 'D''%'");
  QVERIFY(!words.isEmpty());
  QVERIFY(words.first().value(0).toString().startsWith("D'Ávila"));
}

QTEST_GUILESS_MAIN(TstFbexport)
#include "tst_fbexport.moc"
