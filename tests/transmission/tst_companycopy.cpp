// One company's part of a declaration of three, made with isql-fb on the declaration's own tables,
// linked three levels below the company blocks: taken in by the intake, copied for each company,
// read back by mdbtools and mdb-reader, and sent with curl to the sandbox, whose company check
// must pass.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlRecord>
#include <QtTest>
#include <optional>

#include "registry/localdb.h"
#include "support/accessdb.h"
#include "support/intakesupport.h"
#include "support/sandbox.h"
#include "support/testenv.h"
#include "transmission/companycopy.h"
#include "transmission/declarationstructure.h"
#include "transmission/intake.h"

namespace {
const QString kIeA = "0011111110011", kIeB = "0022222220022", kIeC = "0033333330033";

// Company A has two blocks (1 and 4), B one (2), C one (3). Rows of nobody: a reference of a block
// that is not there, a value row without a reference, and rows below them.
const char* kRows = R"(
INSERT INTO HEADERS (ID_HEADER, VERSAO_LAYOUT, OBSERVACAO) VALUES (1, '3.1', 'cabeçalho');
INSERT INTO SETTINGS (CHAVE, VALOR) VALUES ('versao', '3.1');
INSERT INTO SETTINGS (CHAVE, VALOR) VALUES ('uf', 'MG');
INSERT INTO TAB01001 (ID_01001, RAZAO_SOCIAL, IE) VALUES (1, 'Escritório D''Ávila', '0099999990099');
INSERT INTO TAB01002 (ID_01002, ID_01001, LOGRADOURO) VALUES (1, 1, 'Rua A');
INSERT INTO TAB01008 (ID_01008, CFOP, DESCRICAO, TIPO) VALUES (1, 5102, 'Venda', 'S');
INSERT INTO TAB01008 (ID_01008, CFOP, DESCRICAO, TIPO) VALUES (2, 1102, 'Compra', 'E');
INSERT INTO TAB03002 (ID_03002, ID_HEADER, IE, RAZAO_SOCIAL) VALUES (1, 1, '0011111110011', 'Empresa A');
INSERT INTO TAB03002 (ID_03002, ID_HEADER, IE, RAZAO_SOCIAL) VALUES (2, 1, '0022222220022', 'Empresa B');
INSERT INTO TAB03002 (ID_03002, ID_HEADER, IE, RAZAO_SOCIAL) VALUES (3, 1, '0033333330033', 'Empresa C');
INSERT INTO TAB03002 (ID_03002, ID_HEADER, IE, RAZAO_SOCIAL) VALUES (4, 1, '0011111110011', 'Empresa A');
INSERT INTO TAB03003 (ID_03003, ID_03002, INICIO, FIM, SUBSTITUI) VALUES (10, 1, '2024-01-01', '2024-01-31', 'N');
INSERT INTO TAB03003 (ID_03003, ID_03002, INICIO, FIM, SUBSTITUI) VALUES (11, 1, '2024-02-01', '2024-02-29', 'S');
INSERT INTO TAB03003 (ID_03003, ID_03002, INICIO, FIM, SUBSTITUI) VALUES (20, 2, '2024-01-01', '2024-01-31', 'N');
INSERT INTO TAB03003 (ID_03003, ID_03002, INICIO, FIM, SUBSTITUI) VALUES (30, 3, '2024-01-01', '2024-01-31', 'N');
INSERT INTO TAB03003 (ID_03003, ID_03002, INICIO, FIM, SUBSTITUI) VALUES (40, 4, '2025-01-01', '2025-01-31', 'N');
INSERT INTO TAB03003 (ID_03003, ID_03002, INICIO, FIM, SUBSTITUI) VALUES (99, 7, '2024-01-01', '2024-01-31', 'N');
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (100, 10, 5102, 1234.56);
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (101, 11, 5102, -0.01);
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (200, 20, 1102, 99.90);
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (300, 30, 1102, 0.00);
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (400, 40, 5102, 7.00);
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (500, NULL, 5102, 1.00);
INSERT INTO TAB03004 (ID_03004, ID_03003, CFOP, VALOR_CONTABIL) VALUES (501, 99, 5102, 2.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (1000, 100, 'SP', 10.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (1001, 100, 'RJ', 20.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (2000, 200, 'MG', 30.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (3000, 300, 'BA', 40.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (4000, 400, 'SP', 50.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (5000, 501, 'SP', 60.00);
INSERT INTO TAB03004001 (ID_03004001, ID_03004, UF, VALOR_CONTABIL) VALUES (5001, 777, 'SP', 70.00);
INSERT INTO TAB03005 (ID_03005, ID_03003, DEBITOS) VALUES (1, 10, 5.00);
INSERT INTO TAB03005 (ID_03005, ID_03003, DEBITOS) VALUES (2, 20, 6.00);
INSERT INTO TAB03005 (ID_03005, ID_03003, DEBITOS) VALUES (3, 30, 7.00);
INSERT INTO TAB03005 (ID_03005, ID_03003, DEBITOS) VALUES (4, 40, 8.00);
INSERT INTO TAB03011 (ID_03011, ID_03003, OBSERVACAO, ULTIMA_ALTERACAO) VALUES (1, 11, 'linha1' || ascii_char(13) || ascii_char(10) || 'ação', '2024-03-01 10:11:12');
INSERT INTO TAB03011 (ID_03011, ID_03003, OBSERVACAO, ULTIMA_ALTERACAO) VALUES (2, 30, 'de C', '2024-03-02 10:11:12');
COMMIT;
)";

// The rows each company owns, by key, in the tables below the blocks; every other table stays whole.
using Owned = QMap<QString, QStringList>;

QStringList column(const QJsonObject& table, const QString& name) {
  int at = -1;
  const QJsonArray cols = table["columns"].toArray();
  for (int i = 0; i < cols.size(); ++i)
    if (cols[i].toObject()["name"].toString() == name) at = i;
  QStringList values;
  for (const QJsonValue& r : table["rows"].toArray()) values << QString::number(r.toArray()[at].toDouble(), 'f', 0);
  return values;
}

QJsonArray rowsWithKeys(const QJsonObject& table, const QString& key, const QStringList& keys) {
  const QStringList all = column(table, key);
  QJsonArray out;
  const QJsonArray rows = table["rows"].toArray();
  for (int i = 0; i < rows.size(); ++i)
    if (keys.contains(all[i])) out.append(rows[i]);
  return out;
}
}  // namespace

class TstCompanyCopy : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void workingTypesReadBack_data();
  void workingTypesReadBack();
  void eachCompanyGetsOnlyItsRows_data();
  void eachCompanyGetsOnlyItsRows();
  void failureLeavesNoFile();

 private:
  FirebirdLock lock_;
  QTemporaryDir dir_;
  std::unique_ptr<TestAppFolder> app_;
  Intake::Settings settings_;
  QJsonObject whole_;  // zide.mdb as mdb-reader reads it
};

void TstCompanyCopy::initTestCase() {
  // The declaration's 48 tables, empty, then the rows through isql-fb.
  const QString gdb = dir_.filePath("TRES.GDB");
  QVERIFY(makeDeclaration(gdb, {"--rows-each", "0", "--rows", "TAB03002=0", "--rows", "TAB03003=0"}));
  const RunResult r = runProgram("isql-fb", {"-q", "-ch", "UTF8", "-user", "SYSDBA", "-password", "x", gdb}, kRows);
  QVERIFY2(r.exitCode == 0 && r.err.trimmed().isEmpty(), r.err.constData());

  app_ = std::make_unique<TestAppFolder>();
  Intake intake;
  settings_ = Intake::defaultSettings();
  intake.setSettings(settings_);
  std::optional<Intake::Result> outcome;
  connect(&intake, &Intake::finished, this, [&](const Intake::Result& o) { outcome = o; });
  intake.start(gdb);
  QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 240000);
  QVERIFY2(outcome->ok() && outcome->failedStatements == 0 && outcome->lostTables.isEmpty(),
           qPrintable(outcome->error));
  whole_ = mdbReaderDump(settings_.accessDb);
  QCOMPARE(whole_["tables"].toArray().size(), Intake::tables().size());
}

void TstCompanyCopy::workingTypesReadBack_data() {
  // The declaration's column (type, sub-type, length, characters, scale, precision): the Access
  // column read back from its working-database type must be the one the intake wrote for it.
  QTest::addColumn<QString>("type");
  QTest::addColumn<QList<int>>("shape");
  // clang-format off
  QTest::newRow("smallint")      << "SMALLINT"         << QList<int>{0, 2, 0, 0, 0};
  QTest::newRow("integer")       << "INTEGER"          << QList<int>{0, 4, 0, 0, 0};
  QTest::newRow("bigint")        << "BIGINT"           << QList<int>{0, 8, 0, 0, 0};
  QTest::newRow("numeric(18,0)") << "BIGINT"           << QList<int>{1, 8, 0, 0, 18};
  QTest::newRow("numeric(15,2)") << "BIGINT"           << QList<int>{1, 8, 0, -2, 15};
  QTest::newRow("decimal(9,4)")  << "INTEGER"          << QList<int>{2, 4, 0, -4, 9};
  QTest::newRow("no precision")  << "SMALLINT"         << QList<int>{1, 2, 0, -1, 0};
  QTest::newRow("float")         << "FLOAT"            << QList<int>{0, 4, 0, 0, 0};
  QTest::newRow("double")        << "DOUBLE PRECISION" << QList<int>{0, 8, 0, 0, 0};
  QTest::newRow("date")          << "DATE"             << QList<int>{0, 4, 0, 0, 0};
  QTest::newRow("timestamp")     << "TIMESTAMP"        << QList<int>{0, 8, 0, 0, 0};
  QTest::newRow("char(2)")       << "CHAR"             << QList<int>{0, 2, 2, 0, 0};
  QTest::newRow("varchar(60)")   << "VARCHAR"          << QList<int>{0, 60, 60, 0, 0};
  QTest::newRow("varchar(300)")  << "VARCHAR"          << QList<int>{0, 300, 300, 0, 0};
  QTest::newRow("text blob")     << "BLOB"             << QList<int>{1, 8, 0, 0, 0};
  QTest::newRow("binary blob")   << "BLOB"             << QList<int>{0, 8, 0, 0, 0};
  QTest::newRow("boolean")       << "BOOLEAN"          << QList<int>{0, 1, 0, 0, 0};
  // clang-format on
}

void TstCompanyCopy::workingTypesReadBack() {
  QFETCH(QString, type);
  QFETCH(QList<int>, shape);
  DeclarationColumn c;
  c.name = "COL";
  c.type = type;
  c.subType = shape[0], c.length = shape[1], c.chars = shape[2], c.scale = shape[3], c.precision = shape[4];
  const QString declared = sqliteColumnDeclaration(c).mid(QString("\"COL\" ").size());
  const jet::ColumnDef want = accessColumn(c), got = accessColumnOfWorking("COL", declared);
  QCOMPARE(int(got.type), int(want.type));
  if (want.type == jet::ColumnType::Text) QCOMPARE(got.length, want.length);
  if (want.type == jet::ColumnType::Numeric)
    QCOMPARE(std::pair(got.precision, got.scale), std::pair(want.precision, want.scale));
}

void TstCompanyCopy::eachCompanyGetsOnlyItsRows_data() {
  QTest::addColumn<QString>("ie");
  QTest::addColumn<Owned>("owned");
  QTest::addColumn<QString>("gias");
  QTest::addColumn<QString>("othersGia");  // a reference of another company: the server must refuse it
  // clang-format off
  QTest::newRow("two blocks") << kIeA << Owned{{"TAB03002", {"1", "4"}}, {"TAB03003", {"10", "11", "40"}},
      {"TAB03004", {"100", "101", "400"}}, {"TAB03004001", {"1000", "1001", "4000"}}, {"TAB03005", {"1", "4"}},
      {"TAB03011", {"1"}}} << "10,11,40" << "20";
  QTest::newRow("one block")  << kIeB << Owned{{"TAB03002", {"2"}}, {"TAB03003", {"20"}}, {"TAB03004", {"200"}},
      {"TAB03004001", {"2000"}}, {"TAB03005", {"2"}}, {"TAB03011", {}}} << "20" << "30";
  QTest::newRow("third")      << kIeC << Owned{{"TAB03002", {"3"}}, {"TAB03003", {"30"}}, {"TAB03004", {"300"}},
      {"TAB03004001", {"3000"}}, {"TAB03005", {"3"}}, {"TAB03011", {"2"}}} << "30" << "10";
  QTest::newRow("absent")     << "0044444440044" << Owned{{"TAB03002", {}}, {"TAB03003", {}}, {"TAB03004", {}},
      {"TAB03004001", {}}, {"TAB03005", {}}, {"TAB03011", {}}} << QString() << QString();
  // clang-format on
}

void TstCompanyCopy::eachCompanyGetsOnlyItsRows() {
  QFETCH(QString, ie);
  QFETCH(Owned, owned);
  QFETCH(QString, gias);
  QFETCH(QString, othersGia);
  const QString copy = dir_.filePath(ie + ".mdb");
  const CompanyCopyResult report = WriteCompanyCopy(settings_.workDb, copy, ie, settings_.tables);
  QVERIFY2(report.ok(), qPrintable(report.error));
  QCOMPARE(report.ie, ie);

  // Read back by both peers: the same tables, columns and password as zide.mdb; in the tables below
  // the blocks exactly the company's rows, value for value; every other table whole.
  QCOMPARE(mdbTables(copy), Intake::tables());
  const QJsonObject part = mdbReaderDump(copy);
  QCOMPARE(part["password"].toString(), QString("wupo4836"));
  DbConnection work(settings_.workDb);
  QCOMPARE(report.tables.size(), Intake::tables().size());
  for (const CompanyCopyTable& t : report.tables) {
    const QJsonObject mine = part["data"].toObject()[t.table].toObject();
    const QJsonObject all = whole_["data"].toObject()[t.table].toObject();
    QVERIFY2(mine["columns"] == all["columns"], qPrintable(t.table));
    const QString key = "ID_" + t.table.mid(3);
    const QJsonArray want = owned.contains(t.table) ? rowsWithKeys(all, key, owned[t.table]) : all["rows"].toArray();
    QVERIFY2(mine["rows"].toArray() == want, qPrintable(t.table));
    QCOMPARE(t.kept, qint64(want.size()));
    QCOMPARE(t.kept + t.leftOut, work.query("SELECT count(*) FROM " + t.table).first().value(0).toLongLong());
    const QList<QStringList> exported = mdbExportRows(copy, t.table);
    QCOMPARE(exported.size() - 1, want.size());
    if (owned.contains(t.table)) {
      QStringList keys;
      for (const QStringList& row : exported.mid(1)) keys << row.value(exported[0].indexOf(key));
      QCOMPARE(keys, owned[t.table]);
    }
  }
  if (gias.isEmpty()) return;

  // The server takes the copy under the company's key for its references, and refuses another
  // company's reference in it.
  const QString key = "K" + ie.right(4);
  SandboxServer server({"--contribuinte", ie + ":" + key + ":11222333000181"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  const auto send = [&](const QString& refs) {
    const QString url = QString("http://127.0.0.1:%1/client_zide/xt_upload.php?contador=12345678909&chave=%2&gias=%3")
                            .arg(server.port())
                            .arg(key, refs);
    return runProgram("curl", {"-sS", "-0", "-F", "objArquivo=@" + copy + ";filename=TRES.GDB", url});
  };
  const RunResult accepted = send(gias);
  QVERIFY2(accepted.exitCode == 0 && accepted.out.contains("PROTOCOLO="), accepted.out + accepted.err);
  const auto counts = server.rows("SELECT tabela, linhas FROM arquivo_tabela");
  QCOMPARE(counts.size(), report.tables.size());
  for (const auto& c : counts)
    QCOMPARE(c.value("linhas").toLongLong(), report.find(c.value("tabela").toString())->kept);
  const RunResult refused = send(othersGia);
  QVERIFY2(refused.out.contains("ARQUIVO INVALIDO"), refused.out);
  QCOMPARE(server.rows("SELECT gia FROM transmissao").size(), gias.split(',').size());
}

void TstCompanyCopy::failureLeavesNoFile() {
  // A working database that is not one, and a folder that cannot take the copy.
  const QString junk = dir_.filePath("lixo.db");
  QFile f(junk);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(8192, 'x'));
  f.close();
  for (const auto& [work, target] :
       {std::pair(junk, dir_.filePath("a.mdb")), std::pair(settings_.workDb, dir_.filePath("nao/existe/b.mdb"))}) {
    const CompanyCopyResult r = WriteCompanyCopy(work, target, kIeA, settings_.tables);
    QVERIFY(!r.ok() && !r.error.isEmpty());
    QVERIFY(r.tables.isEmpty());
    QVERIFY(!QFile::exists(target) && !QFile::exists(target + ".parcial"));
  }
}

QTEST_GUILESS_MAIN(TstCompanyCopy)
#include "tst_companycopy.moc"
