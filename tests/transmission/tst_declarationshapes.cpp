// Declarations made here with isql-fb in shapes other than the project's own schema go through the
// intake; every value in the working database is compared with what isql-fb reads from the file.
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "base/cp1252.h"
#include "gui/main/principal.h"
#include "gui/transmission/frmupload.h"
#include "registry/localdb.h"
#include "support/accessdb.h"
#include "support/formdriver.h"
#include "support/intakesupport.h"
#include "support/recorder.h"
#include "support/testenv.h"
#include "support/uploadform.h"
#include "transmission/intake.h"

namespace {
using FormDriver::child;
using FormDriver::settle;
using UploadForm::dataRows;
using UploadForm::enviar;

const QString kIe = "0011111110011";

bool isql(const QString& script) {
  const RunResult r = runProgram("isql-fb", {"-q"}, script.toUtf8(), 120000);
  if (r.exitCode != 0) qWarning("isql-fb: %s %s", r.err.constData(), r.out.constData());
  return r.exitCode == 0;
}

QString create(const QString& path, int dialect) {
  return QString(
             "SET NAMES UTF8;\nSET SQL DIALECT %1;\nCREATE DATABASE '%2' USER 'SYSDBA' PASSWORD 'x' PAGE_SIZE 4096 "
             "DEFAULT CHARACTER SET WIN1252;\n")
      .arg(dialect)
      .arg(path);
}

// The references' tables with their columns reordered, one missing and one added; the IE fixed-width.
const char* kReferences = R"(
CREATE TABLE TAB03002 (IE CHAR(20), EXTRA VARCHAR(10), ID_03002 INTEGER NOT NULL PRIMARY KEY, RAZAO_SOCIAL VARCHAR(100));
CREATE TABLE TAB03003 (SUBSTITUI CHAR(1), OBS VARCHAR(30) CHARACTER SET UTF8, FIM DATE, INICIO DATE,
  ID_03002 INTEGER NOT NULL, ID_03003 INTEGER NOT NULL PRIMARY KEY);
INSERT INTO TAB03002 VALUES ('0011111110011', 'a', 1, 'Empresa A');
INSERT INTO TAB03002 VALUES ('0022222220022', 'b', 2, 'Empresa B');
INSERT INTO TAB03003 VALUES ('N', 'ção', '2024-01-31', '2024-01-01', 1, 10);
INSERT INTO TAB03003 VALUES ('S', NULL, '2024-02-29', '2024-02-01', 1, 11);
INSERT INTO TAB03003 VALUES ('N', 'x', '2024-01-31', '2024-01-01', 2, 12);
)";

// Every numeric, date and text type, in the four character sets, in a table the schema has.
const char* kTypes = R"(
CREATE TABLE TAB01001 (N1 NUMERIC(9,2), D4 DECIMAL(18,4), S1 NUMERIC(4,1), SI SMALLINT, BI BIGINT, F FLOAT,
  DP DOUBLE PRECISION, DT DATE, TM TIME, TS TIMESTAMP, CH CHAR(5), TN VARCHAR(20) CHARACTER SET NONE,
  TW VARCHAR(20) CHARACTER SET WIN1252, TI VARCHAR(20) CHARACTER SET ISO8859_1, TU VARCHAR(20) CHARACTER SET UTF8,
  BT BLOB SUB_TYPE TEXT, BB BLOB SUB_TYPE 0, BO BOOLEAN, ID INTEGER NOT NULL);
INSERT INTO TAB01001 VALUES (12.30, 12345678901234.5678, -0.5, -32768, 9223372036854775807, 1.5, 0.1, '2024-02-29',
  '23:59:58', '1999-12-31 01:02:03', 'ab', CAST('ção' AS VARCHAR(20) CHARACTER SET WIN1252), 'Ação € ''x''', 'çà', 'ÿ€ü', 'linha1' || ascii_char(13) ||
  ascii_char(10) || 'linha2', x'00FF10', TRUE, 1);
INSERT INTO TAB01001 VALUES (-0.01, 0.0000, 0, 0, -9223372036854775808, 0, -1e300, '0001-01-01', '00:00:00',
  '9999-12-31 23:59:59', '     ', '', 'D''Ávila', NULL, '', '', x'', FALSE, 2);
INSERT INTO TAB01001 (ID) VALUES (3);
)";

QStringList columnsOf(DbConnection& db, const QString& table) {
  QStringList names;
  for (const QSqlRecord& r : db.query("PRAGMA table_info(" + table + ")")) names << r.value("name").toString();
  return names;
}

// What isql-fb reads for `columns` of `table`, row by row in `order`, each value as text (NULL as
// "#null#"); blob ids never show, since each value is cast to text in the query.
QList<QStringList> isqlRows(const QString& gdb, const QString& table, const QStringList& columns,
                            const QString& order) {
  QStringList parts;
  for (const QString& c : columns) parts << QString("coalesce(cast(%1 as varchar(2000)), '#null#')").arg(c);
  const QString sql = QString("SET LIST ON;\nSELECT '<<' || %1 || '>>' AS V FROM %2 ORDER BY %3;\n")
                          .arg(parts.join(" || '><' || "), table, order);
  // In the declarations' own character set, so the bytes of a NONE column read as its writer meant them.
  const RunResult r =
      runProgram("isql-fb", {"-q", "-ch", "WIN1252", "-user", "SYSDBA", "-password", "x", gdb}, toCp1252(sql));
  QList<QStringList> rows;
  if (r.exitCode != 0) return rows;
  const QString out = fromCp1252(r.out);
  QRegularExpression re("<<(.*?)>>", QRegularExpression::DotMatchesEverythingOption);
  for (auto it = re.globalMatch(out); it.hasNext();) rows << it.next().captured(1).split("><");
  return rows;
}

// The working database's value in isql-fb's text form for the declared type.
QString asIsql(const QVariant& v, const QString& type) {
  if (v.isNull()) return "#null#";
  const QString s = v.toString();
  if (type == "DATE" || type == "TIMESTAMP") {
    // dd/MM/yyyy HH:mm:ss
    const QString date = s.mid(6, 4) + "-" + s.mid(3, 2) + "-" + s.mid(0, 2);
    if (type == "DATE") return date;
    return date + " " + s.mid(11) + ".0000";
  }
  if (type == "TIME") return s + ".0000";
  if (type == "BOOLEAN") return v.toInt() ? "TRUE" : "FALSE";
  return s;
}

}  // namespace

class TstDeclarationShapes : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void everyValueAsTheEngineReadsIt();
  void dialectOne();
  void charKeyListsTheReferences();
  void oneTableLostNeedsConfirmation_data();
  void oneTableLostNeedsConfirmation();
  void emptyDeclaration();
  void faults_data();
  void faults();
  void cancelInTheMiddle_data();
  void cancelInTheMiddle();
  void columnTypeTheExportCannotWrite();
  void rowAccessRefusesLeavesBoth();
  void largeTableFollowedAndCancelled();
  void cancelButtonStopsThePreparation();
  void anotherFileChosenWhileLoading();
  void commandLineFollowsEachShape_data();
  void commandLineFollowsEachShape();
  void accessTakesTheDeclarationsTypes();

 private:
  FrmUpload* openWindow();
  bool choose(FrmUpload* f, const QString& gdb);
  void tempIsEmpty();

  FirebirdLock lock_;
  QTemporaryDir dir_;
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<Recorder> rec_;
  QString shapes_, dialect1_, empty_, large_, array_;
};

void TstDeclarationShapes::initTestCase() {
  shapes_ = dir_.filePath("formas.gdb");
  dialect1_ = dir_.filePath("dialeto1.gdb");
  empty_ = dir_.filePath("vazia.gdb");
  QVERIFY(isql(create(shapes_, 3) + kReferences + kTypes + "COMMIT;\n"));
  QVERIFY(isql(create(dialect1_, 1) + R"(
CREATE TABLE TAB03002 (ID_03002 INTEGER NOT NULL, IE VARCHAR(20));
CREATE TABLE TAB03003 (ID_03003 INTEGER NOT NULL, ID_03002 INTEGER, INICIO DATE, FIM DATE, SUBSTITUI CHAR(1));
CREATE TABLE TAB01002 (ID_01002 INTEGER NOT NULL, VALOR NUMERIC(15,2), MOMENTO DATE);
INSERT INTO TAB03002 VALUES (1, '0011111110011');
INSERT INTO TAB03003 VALUES (7, 1, '1-JAN-2001', '31-JAN-2001', 'N');
INSERT INTO TAB01002 VALUES (1, 1234.56, '14-MAR-2001 10:11:12');
INSERT INTO TAB01002 VALUES (2, -0.1, '1-JAN-2001');
COMMIT;
)"));
  QVERIFY(isql(create(empty_, 3)));
  // A table with an array column.
  array_ = dir_.filePath("matriz.gdb");
  QVERIFY(isql(create(array_, 3) + kReferences + R"(
CREATE TABLE TAB01003 (ID_01003 INTEGER NOT NULL, VALORES INTEGER[3]);
INSERT INTO TAB01003 (ID_01003) VALUES (1);
CREATE TABLE TAB01004 (ID_01004 INTEGER NOT NULL, NOME VARCHAR(10));
INSERT INTO TAB01004 VALUES (1, 'um');
COMMIT;
)"));
  // One table large enough to be loaded in many steps.
  large_ = dir_.filePath("grande.gdb");
  QVERIFY(isql(create(large_, 3) + kReferences + R"(
CREATE TABLE TAB01002 (ID_01002 INTEGER NOT NULL, TEXTO VARCHAR(60), VALOR NUMERIC(15,2));
SET TERM ^;
EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN
  WHILE (i < 60000) DO BEGIN
    INSERT INTO TAB01002 VALUES (:i, 'linha de teste número ' || :i, :i / 100.00);
    i = i + 1;
  END
END^
SET TERM ;^
CREATE TABLE TAB01005 (ID_01005 INTEGER NOT NULL, LONGO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE 0);
SET TERM ^;
EXECUTE BLOCK AS DECLARE t BLOB SUB_TYPE TEXT = ''; DECLARE b BLOB SUB_TYPE 0 = ''; DECLARE i INTEGER = 0; BEGIN
  WHILE (i < 100) DO BEGIN
    t = t || LPAD('', 1000, 'abcdeéfghi');
    IF (i < 64) THEN b = b || CAST(LPAD('', 1000, 'zy') AS BLOB SUB_TYPE 0);
    i = i + 1;
  END
  INSERT INTO TAB01005 VALUES (1, :t, :b);
END^
SET TERM ;^
COMMIT;
)"));
}

void TstDeclarationShapes::init() {
  app_ = std::make_unique<TestAppFolder>();
  rec_ = std::make_unique<Recorder>();
  LocalDatabase::Connection db;
  db.exec("Insert into tblContador (cont_cpf_cnpj, cont_num_crc, cont_razao_nome) values ('123.456.789-09','1','C')");
}

void TstDeclarationShapes::cleanup() {
  Forms::unloadAll();
  settle();
  rec_.reset();
  app_.reset();
}

void TstDeclarationShapes::tempIsEmpty() {
  const QStringList left = QDir(app_->file("temp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
}

FrmUpload* TstDeclarationShapes::openWindow() {
  Principal* p = Forms::get<Principal>();
  p->setSelectedTaxpayer(kIe, "Empresa", "CH");
  p->show();
  p->setEnabled(false);
  FrmUpload* f = Forms::get<FrmUpload>();
  f->show();
  return f;
}

bool TstDeclarationShapes::choose(FrmUpload* f, const QString& gdb) {
  static int n = 0;
  const QString folder = app_->file(QString("escolha%1").arg(++n));
  QDir().mkpath(folder);
  if (!QFile::copy(gdb, folder + "/zide.gdb")) return false;
  f->setFolder(folder);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  if (!f->chooseFile("zide.gdb")) return false;
  return done.count() > 0 || done.wait(120000);
}

void TstDeclarationShapes::everyValueAsTheEngineReadsIt() {
  const Intake::Result o = runIntake(shapes_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  QCOMPARE(o.failedStatements, 0);
  QVERIFY(o.lostTables.isEmpty());
  QCOMPARE(o.loadedStatements, 2 + 3 + 3);
  tempIsEmpty();

  DbConnection db(app_->file("zide.db"));
  // The declaration's columns in its order; the tables it lacks are there, empty.
  QCOMPARE(columnsOf(db, "TAB03002"), (QStringList{"IE", "EXTRA", "ID_03002", "RAZAO_SOCIAL"}));
  QCOMPARE(db.query("SELECT count(*) FROM TAB01005").first().value(0).toInt(), 0);
  QVERIFY(columnsOf(db, "TAB01005").contains("ID_01005"));

  struct Table {
    QString name, order;
    QStringList columns, types;
  };
  const QList<Table> tables{
      {"TAB03002", "ID_03002", {"IE", "EXTRA", "ID_03002", "RAZAO_SOCIAL"}, {"CHAR", "VARCHAR", "INTEGER", "VARCHAR"}},
      {"TAB03003",
       "ID_03003",
       {"SUBSTITUI", "OBS", "FIM", "INICIO", "ID_03002", "ID_03003"},
       {"CHAR", "VARCHAR", "DATE", "DATE", "INTEGER", "INTEGER"}},
      {"TAB01001",
       "ID",
       {"N1", "D4", "S1", "SI", "BI", "F", "DP", "DT", "TM", "TS", "CH", "TN", "TW", "TI", "TU", "BT", "BO", "ID"},
       {"NUMERIC", "NUMERIC", "NUMERIC", "SMALLINT", "BIGINT", "FLOAT", "DOUBLE", "DATE", "TIME", "TIMESTAMP", "CHAR",
        "VARCHAR", "VARCHAR", "VARCHAR", "VARCHAR", "BLOB", "BOOLEAN", "INTEGER"}}};
  for (const Table& t : tables) {
    const QList<QStringList> expected = isqlRows(shapes_, t.name, t.columns, t.order);
    const QList<QSqlRecord> got =
        db.query(QString("SELECT %1 FROM %2 ORDER BY %3").arg(t.columns.join(", "), t.name, t.order));
    QCOMPARE(got.size(), expected.size());
    QVERIFY(!got.isEmpty());
    for (int r = 0; r < got.size(); ++r) {
      for (int c = 0; c < t.columns.size(); ++c) {
        const QString what = QString("%1.%2 row %3").arg(t.name, t.columns[c]).arg(r);
        QString want = expected[r][c];
        const QVariant v = got[r].value(c);
        if ((t.types[c] == "FLOAT" || t.types[c] == "DOUBLE") && want != "#null#") {
          QVERIFY2(!v.isNull(), qPrintable(what));
          QVERIFY2(qFuzzyCompare(1 + v.toDouble(), 1 + want.toDouble()),
                   qPrintable(what + ": " + v.toString() + " / " + want));
          continue;
        }
        // Fixed-width texts arrive without their padding, which the engine ignores when comparing.
        if (t.types[c] == "CHAR" && want != "#null#") {
          while (want.endsWith(' ')) want.chop(1);
        }
        QCOMPARE(asIsql(v, t.types[c]), want);
      }
    }
  }
  // Binary values whole, exact decimals as text with their scale.
  const QSqlRecord first = db.query("SELECT BB, typeof(N1), N1, D4 FROM TAB01001 WHERE ID = 1").first();
  QCOMPARE(first.value(0).toByteArray(), QByteArray("\x00\xFF\x10", 3));
  QCOMPARE(first.value(1).toString(), QString("text"));
  QCOMPARE(first.value(3).toString(), QString("12345678901234.5678"));
  QCOMPARE(db.query("SELECT TN, TU FROM TAB01001 WHERE ID = 1").first().value(0).toString(), QString("ção"));
  // The fixed-width IE is found by the plain comparison the reference list makes.
  QCOMPARE(db.query("SELECT count(*) FROM TAB03002 WHERE IE = '0011111110011'").first().value(0).toInt(), 1);
  QCOMPARE(db.query("SELECT count(*) FROM TAB03002 WHERE IE = '0011111110011   '").first().value(0).toInt(), 1);
}

void TstDeclarationShapes::dialectOne() {
  const Intake::Result o = runIntake(dialect1_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  QCOMPARE(o.failedStatements, 0);
  QCOMPARE(o.loadedStatements, 4);
  DbConnection db(app_->file("zide.db"));
  const QList<QSqlRecord> rows = db.query("SELECT VALOR, MOMENTO FROM TAB01002 ORDER BY ID_01002");
  QCOMPARE(rows.size(), 2);
  // A dialect 1 DATE keeps its time; its NUMERIC is a double.
  QCOMPARE(rows[0].value(1).toString(), QString("14/03/2001 10:11:12"));
  QCOMPARE(rows[1].value(1).toString(), QString("01/01/2001 00:00:00"));
  QCOMPARE(rows[0].value(0).toDouble(), 1234.56);
  QCOMPARE(rows[1].value(0).toDouble(), -0.1);
  const QList<QStringList> isqlValues = isqlRows(dialect1_, "TAB01002", {"VALOR"}, "ID_01002");
  QCOMPARE(isqlValues.size(), 2);
  QCOMPARE(isqlValues[0][0].toDouble(), 1234.56);
  tempIsEmpty();
}

void TstDeclarationShapes::charKeyListsTheReferences() {
  FrmUpload* f = openWindow();
  QVERIFY(choose(f, shapes_));
  QCOMPARE(rec_->messages.size(), 1);  // only the notice to close the other program
  QCOMPARE(dataRows(f), 2);
  QCOMPARE(child<QTableWidget>(f, "GridRefencias")->item(1, 3)->text(), QString("Normal"));
  QCOMPARE(child<QTableWidget>(f, "GridRefencias")->item(2, 3)->text(), QString("Substitutiva"));
  QVERIFY(enviar(f));
  tempIsEmpty();
}

void TstDeclarationShapes::oneTableLostNeedsConfirmation_data() {
  // clang-format off
  QTest::addColumn<QString>("table");
  QTest::addColumn<bool>("fatal");
  QTest::newRow("other table") << "TAB01001" << false;
  QTest::newRow("companies")   << "TAB03002" << true;
  QTest::newRow("references")  << "TAB03003" << true;
  // clang-format on
}

void TstDeclarationShapes::oneTableLostNeedsConfirmation() {
  QFETCH(QString, table);
  QFETCH(bool, fatal);
  // The export refuses one table as it does a column type it cannot write.
  ScriptedRunner runner;
  const QString why = "a coluna A da tabela " + table + " tem um tipo que não é exportado (540)";
  runner.answer = [&](const QString& t) -> std::optional<ProcessResult> {
    if (t != table) return std::nullopt;
    ProcessResult r;
    r.exitCode = 2;
    r.errorOutput = "fbexport: " + why;
    return r;
  };
  rec_->answers << QMessageBox::Ok << QMessageBox::No;
  FrmUpload* f = openWindow();
  QVERIFY(choose(f, shapes_));
  QCOMPARE(rec_->messages.size(), 2);
  const QString text = rec_->messages[1].text;
  QVERIFY2(text.contains(table), qPrintable(text));
  if (fatal) {
    QVERIFY2(text.startsWith("Erro: não foi possível preparar o arquivo escolhido."), qPrintable(text));
    // The tool's words are the details; the message itself is the program's.
    QVERIFY2(!text.contains(why) && rec_->messages[1].details.contains(why), qPrintable(text));
    QVERIFY(!enviar(f));
    QCOMPARE(dataRows(f), 0);
    tempIsEmpty();
    return;
  }
  QVERIFY2(text.contains(why), qPrintable(text));
  QCOMPARE(rec_->messages[1].buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(f->lastIntake().lostTables.size(), 1);
  // The rest loaded; not confirmed, nothing is sent.
  QCOMPARE(dataRows(f), 2);
  QVERIFY(!enviar(f));
  QCOMPARE(DbConnection(app_->file("zide.db")).query("SELECT count(*) FROM TAB01001").first().value(0).toInt(), 0);
  tempIsEmpty();
  rec_->clear();
  rec_->answers << QMessageBox::Ok << QMessageBox::Yes;
  QVERIFY(choose(f, shapes_));
  QVERIFY(enviar(f));
}

void TstDeclarationShapes::emptyDeclaration() {
  const Intake::Result o = runIntake(empty_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  QCOMPARE(o.loadedStatements, 0);
  QCOMPARE(o.failedStatements, 0);
  QVERIFY(o.lostTables.isEmpty());
  DbConnection db(app_->file("zide.db"));
  for (const QString& t : Intake::tables()) QCOMPARE(db.query("SELECT count(*) FROM " + t).first().value(0).toInt(), 0);
  tempIsEmpty();
}

void TstDeclarationShapes::faults_data() {
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("message");
  QTest::newRow("not a database") << "text"      << "O arquivo escolhido não é uma declaração do ZIDE";
  QTest::newRow("truncated")      << "truncated" << "O arquivo escolhido está incompleto (cortado)";
  QTest::newRow("older engine")   << "ods9"      << "gravado por InterBase 5 (estrutura em disco versão 9), que este computador não consegue abrir";
  QTest::newRow("newer engine")   << "ods14"     << "gravado por uma versão do Firebird mais nova que a 5 (estrutura em disco versão 14)";
  QTest::newRow("in use")         << "locked"    << "O arquivo escolhido está sendo usado por outro programa";
  QTest::newRow("disk full")      << "full"      << "Não há espaço livre suficiente no disco da pasta do programa";
  // clang-format on
}

void TstDeclarationShapes::faults() {
  QFETCH(QString, kind);
  QFETCH(QString, message);
  QFile src(shapes_);
  QVERIFY(src.open(QIODevice::ReadOnly));
  QByteArray bytes = src.readAll();
  ScriptedRunner runner;
  if (kind == "text") bytes = QByteArray("Declaração em texto, não um banco de dados.\n").repeated(200);
  else if (kind == "truncated") bytes.chop(bytes.size() / 3);
  else if (kind == "ods9") bytes[18] = 9, bytes[19] = char(0x80);
  else if (kind == "ods14") bytes[18] = 14, bytes[19] = char(0x80);
  // The engine's answer for a file held by another session, and a failed write of an export.
  const QString error = kind == "locked" ? "fbexport: falha ao abrir: lock time-out on wait transaction"
                                         : "fbexport: não foi possível gravar a saída: No space left on device";
  if (kind == "locked" || kind == "full") {
    runner.answer = [kind, error](const QString& t) -> std::optional<ProcessResult> {
      if (kind == "full" && t != "TAB01001") return std::nullopt;
      ProcessResult r;
      r.exitCode = kind == "full" ? 3 : 2;
      r.errorOutput = error;
      return r;
    };
  }
  const QString gdb = app_->file("falha.gdb");
  QFile out(gdb);
  QVERIFY(out.open(QIODevice::WriteOnly));
  out.write(bytes);
  out.close();
  const Intake::Result o = runIntake(gdb);
  QVERIFY2(o.error.contains(message), qPrintable(o.error));
  QVERIFY(!o.ok());
  tempIsEmpty();
}

void TstDeclarationShapes::cancelInTheMiddle_data() {
  // clang-format off
  QTest::addColumn<int>("at");
  QTest::newRow("reading the tables") << 5;
  QTest::newRow("loading")            << 48 + 3;
  // clang-format on
}

void TstDeclarationShapes::cancelInTheMiddle() {
  QFETCH(int, at);
  Intake intake;
  int steps = 0;
  bool finished = false;
  connect(&intake, &Intake::advanced, &intake, [&] {
    if (++steps == at) intake.cancel();
  });
  connect(&intake, &Intake::finished, &intake, [&] { finished = true; });
  intake.start(shapes_);
  QTRY_VERIFY_WITH_TIMEOUT(!intake.isRunning(), 60000);
  QTest::qWait(500);  // late reports of the killed programs change nothing
  QVERIFY(!finished);
  QCOMPARE(steps, at);
  tempIsEmpty();
  // The next intake starts from nothing and completes.
  QVERIFY(runIntake(shapes_).ok());
}

// An array column, which no INSERT statement can carry, holds no values in a declaration made
// through SQL (isql-fb cannot write one): the table loads whole, nothing is lost. A value that the
// export cannot write is the scripted case above.
void TstDeclarationShapes::columnTypeTheExportCannotWrite() {
  const Intake::Result o = runIntake(array_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  QVERIFY(o.lostTables.isEmpty());
  QCOMPARE(o.failedStatements, 0);
  DbConnection db(app_->file("zide.db"));
  QCOMPARE(db.query("SELECT count(*) FROM TAB01003 WHERE VALORES IS NULL").first().value(0).toInt(), 1);
  QCOMPARE(db.query("SELECT NOME FROM TAB01004").first().value(0).toString(), QString("um"));
  QVERIFY(mdbTables(app_->file("zide.mdb")).contains("TAB01003"));
  tempIsEmpty();
}

// A row the working database takes but the Access table cannot hold (a SMALLINT out of range, which
// SQLite does not check) is in neither, and counts as lost with Access's reason.
void TstDeclarationShapes::rowAccessRefusesLeavesBoth() {
  ScriptedRunner runner;
  runner.edit = [](const QString& table, const QString& path) {
    QFile file(path);
    if (table == "TAB01001" && file.open(QIODevice::WriteOnly | QIODevice::Append))
      file.write(
          "INSERT INTO TAB01001 (ID, SI) VALUES (4, 70000);\r\nINSERT INTO TAB01001 (ID, SI) VALUES (5, 7);\r\n");
  };
  const Intake::Result o = runIntake(shapes_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  QCOMPARE(o.failedStatements, 1);
  QCOMPARE(o.firstFailedTable, QString("TAB01001"));
  QVERIFY2(o.firstFailedError.contains("fora da faixa"), qPrintable(o.firstFailedError));
  DbConnection db(app_->file("zide.db"));
  QCOMPARE(db.query("SELECT group_concat(ID) FROM (SELECT ID FROM TAB01001 ORDER BY ID)").first().value(0).toString(),
           QString("1,2,3,5"));
  const QList<QStringList> rows = mdbExportRows(app_->file("zide.mdb"), "TAB01001");
  QCOMPARE(rows.size(), 1 + 4);
}

// A large table reports how far its load has gone while the window keeps its events; cancelled
// within it, the intake ends with nothing of it left behind.
void TstDeclarationShapes::largeTableFollowedAndCancelled() {
  Intake intake;
  QList<int> seen;
  bool finished = false;
  connect(&intake, &Intake::occurrence, &intake, [&](const QString& text) {
    if (text.endsWith("TAB01002")) seen.clear();
  });
  connect(&intake, &Intake::tableProgress, &intake, [&](int permille) {
    seen << permille;
    if (permille >= 300) intake.cancel();
  });
  connect(&intake, &Intake::finished, &intake, [&] { finished = true; });
  intake.start(large_);
  QTRY_VERIFY_WITH_TIMEOUT(!intake.isRunning(), 120000);
  QTest::qWait(300);
  QVERIFY(!finished);
  // Several steps of the one table reached this thread's event loop before it ended.
  QVERIFY2(seen.size() >= 3, qPrintable(QString::number(seen.size())));
  QVERIFY(std::is_sorted(seen.begin(), seen.end()));
  QVERIFY(seen.last() >= 300 && seen.last() < 1000);
  tempIsEmpty();
  QVERIFY(!QFile::exists(app_->file("zide.mdb")));
  QVERIFY(!QFile::exists(app_->file("zide.mdb.parcial")));

  // Not cancelled, every row arrives, with its exact value.
  const Intake::Result o = runIntake(large_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  DbConnection db(app_->file("zide.db"));
  const QSqlRecord r = db.query("SELECT count(*), max(VALOR), min(TEXTO) FROM TAB01002").first();
  QCOMPARE(r.value(0).toInt(), 60000);
  QCOMPARE(db.query("SELECT VALOR FROM TAB01002 WHERE ID_01002 = 59999").first().value(0).toString(),
           QString("599.99"));
  // Long texts and binaries whole, in both databases.
  const QSqlRecord longs = db.query("SELECT LONGO, BIN FROM TAB01005").first();
  const QString text = longs.value(0).toString();
  QCOMPARE(text, QString::fromUtf8("abcdeéfghi").repeated(10000));
  QCOMPARE(longs.value(1).toByteArray(), QByteArray("zy").repeated(32000));
  const QJsonArray access =
      mdbReaderDump(app_->file("zide.mdb"), {"TAB01005"})["data"].toObject()["TAB01005"].toObject()["rows"].toArray();
  QCOMPARE(access.size(), 1);
  QCOMPARE(access[0].toArray()[1].toString(), text);
  QCOMPARE(access[0].toArray()[2].toString(), QString(QByteArray("zy").repeated(32000).toHex()));
}

void TstDeclarationShapes::cancelButtonStopsThePreparation() {
  FrmUpload* f = openWindow();
  const QString folder = app_->file("grande");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(large_, folder + "/zide.gdb"));
  f->setFolder(folder);
  QVERIFY(f->chooseFile("zide.gdb"));
  QVERIFY(f->isPreparing());
  QTRY_VERIFY_WITH_TIMEOUT(child<QProgressBar>(f, "ProgressoTabela")->isVisible(), 120000);
  child<QPushButton>(f, "Command2")->click();
  QVERIFY(!f->isPreparing());
  QVERIFY(!enviar(f));
  QCOMPARE(dataRows(f), 0);
  tempIsEmpty();
  QVERIFY(!QFile::exists(app_->file("zide.mdb")));
}

// The user picks another declaration while a large one is loading: the first stops, the second
// is the one listed, and nothing of the first is left.
void TstDeclarationShapes::anotherFileChosenWhileLoading() {
  FrmUpload* f = openWindow();
  const QString folder = app_->file("duas");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(large_, folder + "/grande.gdb"));
  QVERIFY(QFile::copy(shapes_, folder + "/zide.gdb"));
  f->setFolder(folder);
  QVERIFY(f->chooseFile("grande.gdb"));
  QTRY_VERIFY_WITH_TIMEOUT(child<QProgressBar>(f, "ProgressoTabela")->isVisible(), 120000);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  QVERIFY(f->chooseFile("zide.gdb"));
  QVERIFY(done.count() > 0 || done.wait(120000));
  QTRY_VERIFY_WITH_TIMEOUT(!f->isPreparing(), 10000);
  QCOMPARE(dataRows(f), 2);
  QVERIFY(enviar(f));
  QCOMPARE(DbConnection(app_->file("zide.db")).query("SELECT count(*) FROM TAB01002").first().value(0).toInt(), 0);
  tempIsEmpty();
}

void TstDeclarationShapes::commandLineFollowsEachShape_data() {
  // clang-format off
  QTest::addColumn<QString>("which");
  QTest::addColumn<QStringList>("ids");
  QTest::newRow("other structure") << "formas"   << QStringList{"10", "11"};
  QTest::newRow("dialect 1")       << "dialeto1" << QStringList{"7"};
  QTest::newRow("empty")           << "vazia"    << QStringList{};
  // clang-format on
}

void TstDeclarationShapes::commandLineFollowsEachShape() {
  QFETCH(QString, which);
  QFETCH(QStringList, ids);
  const QString gdb = dir_.filePath(which + ".gdb");
  const QString mdb = dir_.filePath(which + ".mdb");
  const RunResult r = runProgram(builtProgram("zide-cli"),
                                 {"declaracao", gdb, "--ie", kIe, "--saida", mdb, "--formato", "json"}, {}, 300000);
  QVERIFY2(r.exitCode == 0, r.err.constData());
  const QJsonObject o = QJsonDocument::fromJson(r.out).object();
  QStringList got;
  for (const QJsonValue v : o["referencias"].toArray()) got << v.toObject()["id"].toString();
  QCOMPARE(got, ids);
  // The Access file has every table of the declaration, whatever the declaration lacked.
  QStringList tables = mdbTables(mdb);
  QStringList expected = Intake::tables();
  tables.sort();
  expected.sort();
  QCOMPARE(tables, expected);
}

// The Access tables have the declaration's columns and types, read back by a reader that is not ours.
void TstDeclarationShapes::accessTakesTheDeclarationsTypes() {
  const Intake::Result o = runIntake(shapes_);
  QVERIFY2(o.ok(), qPrintable(o.error));
  const QJsonObject data = mdbReaderDump(app_->file("zide.mdb"), {"TAB01001", "TAB03002"})["data"].toObject();
  QHash<QString, QJsonObject> cols;
  for (const QJsonValue c : data["TAB01001"].toObject()["columns"].toArray())
    cols.insert(c.toObject()["name"].toString(), c.toObject());
  QCOMPARE(cols.size(), 19);
  QCOMPARE(cols["N1"]["type"].toString(), QString("numeric"));
  QCOMPARE(cols["N1"]["precision"].toInt(), 9);
  QCOMPARE(cols["N1"]["scale"].toInt(), 2);
  QCOMPARE(cols["D4"]["scale"].toInt(), 4);
  QCOMPARE(cols["SI"]["type"].toString(), QString("integer"));
  QCOMPARE(cols["ID"]["type"].toString(), QString("long"));
  QCOMPARE(cols["DP"]["type"].toString(), QString("double"));
  QCOMPARE(cols["TS"]["type"].toString(), QString("datetime"));
  QCOMPARE(cols["CH"]["type"].toString(), QString("text"));
  QCOMPARE(cols["BT"]["type"].toString(), QString("memo"));
  QCOMPARE(cols["BB"]["type"].toString(), QString("ole"));
  QCOMPARE(cols["BO"]["type"].toString(), QString("boolean"));
  // The fixed-width IE without the engine's padding; the declaration's column order.
  const QJsonObject companies = data["TAB03002"].toObject();
  QStringList names;
  for (const QJsonValue c : companies["columns"].toArray()) names << c.toObject()["name"].toString();
  QCOMPARE(names, (QStringList{"IE", "EXTRA", "ID_03002", "RAZAO_SOCIAL"}));
  QStringList ies;
  for (const QJsonValue row : companies["rows"].toArray()) ies << row.toArray().at(0).toString();
  ies.sort();
  QCOMPARE(ies, (QStringList{"0011111110011", "0022222220022"}));
  // Exact decimals to the last digit.
  QStringList d4;
  for (const QJsonValue row : data["TAB01001"].toObject()["rows"].toArray())
    d4 << row.toArray().at(1).toVariant().toString();
  QVERIFY2(d4.contains("12345678901234.5678"), qPrintable(d4.join(" | ")));
}

QTEST_MAIN(TstDeclarationShapes)
#include "tst_declarationshapes.moc"
