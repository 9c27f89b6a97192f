#include <QtTest>

#include "registry/errorreport.h"
#include "registry/localdb.h"
#include "support/testenv.h"

// The statements the windows issue, with their own text, run on the local database.
class TstLocalDb : public QObject {
  Q_OBJECT
 private slots:
  void createdWithBothTablesWhenMissing();
  void emptyFileIsMadeAnew();
  void accountantStatements();
  void taxpayerStatements();
  void apostrophesStoredAndFoundIntact();
  void corruptOrMissingFileIsADbError();
  void errorReportShortForm();
  void errorReportFullForm();
  void errorReportFromDatabaseFailure();
};

void TstLocalDb::createdWithBothTablesWhenMissing() {
  TestAppFolder app;
  QVERIFY(!QFile::exists(app.file("diziz.db")));
  {
    LocalDatabase::Connection db;
    QCOMPARE(db.query("SELECT * FROM tblContador").size(), 0);
    QCOMPARE(db.query("Select * From tblContribuinte").size(), 0);
  }
  QVERIFY(QFile::exists(app.file("diziz.db")));
  // A second connection finds the same file and does not recreate it.
  LocalDatabase::Connection db;
  db.exec("delete from tblContador");
  QCOMPARE(db.query("select count(0) as total from tblContador").first().value("total").toInt(), 0);
}

void TstLocalDb::emptyFileIsMadeAnew() {
  TestAppFolder app;
  app.write("diziz.db", QByteArray());
  LocalDatabase::Connection db;
  db.exec("Insert into tblContribuinte (IE) values ('1')");
  QCOMPARE(db.query("Select * From tblContribuinte").size(), 1);
}

void TstLocalDb::accountantStatements() {
  TestAppFolder app;
  LocalDatabase::Connection db;
  const QStringList v = {"123.456.789-09", "MG-12345",  "Jo'ão da Silva",  "Rua A", "10", "", "Centro", "Tavarel", "MG",
                         "(31) 3456-7800", "35000-000", "joao@example.com"};
  QStringList q;
  for (const QString& s : v) q << SqlQuote(s);
  db.exec("delete from tblContador");
  db.exec(
      "Insert into tblContador (cont_cpf_cnpj, cont_num_crc, cont_razao_nome, cont_nom_endereco, cont_num_predial, "
      "cont_dsc_complemento, cont_nom_bairro, cont_nom_cidade, cont_nom_estado, cont_num_telefone, cont_num_cep, "
      "cont_email) values ('" +
      q.join("','") + "')");
  const auto rows = db.query("SELECT * FROM  tblContador");
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("cont_cpf_cnpj").toString().size(), 14);
  QCOMPARE(rows[0].value("cont_razao_nome").toString(), QString("Jo'ão da Silva"));
  QCOMPARE(rows[0].value("CONT_EMAIL").toString(), QString("joao@example.com"));  // names in any case
  QCOMPARE(db.query("select count(0) as total from tblContador").first().value("total").toInt(), 1);
  db.exec("delete from tblContador");
  QCOMPARE(db.query("SELECT * FROM tblContador").size(), 0);
}

void TstLocalDb::taxpayerStatements() {
  TestAppFolder app;
  LocalDatabase::Connection db;
  db.exec(
      "Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values "
      "('0623079040081','Empresa A','11.222.333/0001-81','4711-3/02','ABCD1234','777',0)");
  db.exec(
      "insert into tblContribuinte (IE, RazaoSocial, Cnpj, Cnae, Chave) values ('0623079040082','Empresa B ',"
      "'11.222.333/0001-81','4711-3/02','K2')");
  auto rows = db.query("SELECT * FROM  tblContribuinte WHERE IE = '0623079040081'");
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("OptanteSimples").toInt(), 0);
  QVERIFY(!rows[0].value("OptanteSimples").isNull());
  QCOMPARE(db.query("Select * from tblContribuinte where ie = '0623079040081'")[0].value("CCM").toString(),
           QString("777"));
  QCOMPARE(
      db.query("select count(0) as total from tblContribuinte where IE = '0623079040082'")[0].value("total").toInt(),
      1);
  QCOMPARE(db.query("select * from tblContribuinte where IE = '0623079040082'")[0].value("RazaoSocial").toString(),
           QString("Empresa B "));
  db.exec(
      "Update tblContribuinte set RazaoSocial = 'Nova',Cnae = '1111-1/11',CCM = '9',OptanteSimples = 0 where IE = "
      "'0623079040082'");
  rows = db.query("Select * From tblContribuinte");
  QCOMPARE(rows.size(), 2);
  QCOMPARE(rows[1].value("RazaoSocial").toString(), QString("Nova"));
  // Yes is stored as -1 and read back as true.
  db.exec("Update tblContribuinte set OptanteSimples = -1 where IE = '0623079040081'");
  QCOMPARE(db.query("Select * From tblContribuinte")[0].value("OptanteSimples").toInt(), -1);
  db.exec("Delete From tblContribuinte where ie = '0623079040082'");
  QCOMPARE(db.query("Select * From tblContribuinte").size(), 1);
}

void TstLocalDb::apostrophesStoredAndFoundIntact() {
  TestAppFolder app;
  const QString ie = "06'23 079'';--";
  const QString name = "Comércio D'Ávila ME";
  {
    LocalDatabase::Connection db;
    db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values ('" + SqlQuote(ie) +
            "','" + SqlQuote(name) + "','','','','',0)");
  }
  LocalDatabase::Connection db;
  const auto rows = db.query("SELECT * FROM  tblContribuinte WHERE IE = '" + SqlQuote(ie) + "'");
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("IE").toString(), ie);
  QCOMPARE(rows[0].value("RazaoSocial").toString(), name);
  QCOMPARE(db.query("Select * From tblContribuinte").size(), 1);
}

void TstLocalDb::corruptOrMissingFileIsADbError() {
  TestAppFolder app;
  app.write("diziz.db", QByteArray(4096, 'Z'));
  bool thrown = false;
  try {
    LocalDatabase::Connection db;
    db.query("SELECT * FROM tblContador");
  } catch (const DbError& e) {
    thrown = true;
    QCOMPARE(e.number, 26);  // SQLITE_NOTADB
    QVERIFY(!e.description.isEmpty());
  }
  QVERIFY(thrown);
  // The corrupt file is left as it was: nothing overwrites a file the user may want to recover.
  QFile f(app.file("diziz.db"));
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray(4096, 'Z'));

  // A database without the tables.
  QFile::remove(app.file("diziz.db"));
  {
    DbConnection raw(app.file("diziz.db"), true);
    raw.exec("create table outra (x)");
  }
  QVERIFY_THROWS_EXCEPTION(DbError, LocalDatabase::Connection().query("Select * From tblContribuinte"));
  // A file that does not exist is an error unless creation was asked for.
  QVERIFY_THROWS_EXCEPTION(DbError, DbConnection(app.file("nada.db")));

  // A link planted as diziz.db, to an empty file or to none: never written through nor created.
  QTemporaryDir elsewhere;
  for (const QString& target : {elsewhere.filePath("vazio.db"), elsewhere.filePath("nenhum.db")}) {
    if (target.endsWith("vazio.db")) QVERIFY(QFile(target).open(QIODevice::WriteOnly));
    QFile::remove(app.file("diziz.db"));
    QVERIFY(QFile::link(target, app.file("diziz.db")));
    QVERIFY_THROWS_EXCEPTION(DbError, LocalDatabase::Connection().query("Select * From tblContribuinte"));
    QCOMPARE(QFileInfo(target).exists() ? QFileInfo(target).size() : -1, target.endsWith("vazio.db") ? 0 : -1);
  }
}

void TstLocalDb::errorReportShortForm() {
  const QString text = ErrorReport::shortForm({13, "zide", "Type mismatch"});
  QCOMPARE(text, QString("\r\nVB Error #  13\r\n   Generated by zide\r\n   Description  Type mismatch"));
  const QStringList lines = ErrorReport::shortForm({-2147467259, "Microsoft OLE DB", "x"}).split("\r\n");
  QCOMPARE(lines.size(), 4);
  QCOMPARE(lines[0], QString());
  QCOMPARE(lines[1], QString("VB Error # -2147467259"));
  QCOMPARE(lines[2], QString("   Generated by Microsoft OLE DB"));
  QCOMPARE(lines[3], QString("   Description  x"));
  QCOMPARE(ErrorReport::shortForm({0, "", ""}), QString("\r\nVB Error #  0\r\n   Generated by \r\n   Description  "));
}

void TstLocalDb::errorReportFullForm() {
  const QString text = ErrorReport::full({{-1605, "Falha A", "ODBC"}, {3146, "Falha B", "Jet"}}, {3021, "zide", "EOF"});
  const QStringList lines = text.split("\r\n");
  const QStringList expected = {"",
                                "ADO Error # 1:",
                                "   ADO Error   # -1605",
                                "   Description   Falha A",
                                "   Source        ODBC",
                                "ADO Error # 2:",
                                "   ADO Error   # 3146",
                                "   Description   Falha B",
                                "   Source        Jet",
                                "VB Error #  3021",
                                "   Generated by zide",
                                "   Description  EOF"};
  QCOMPARE(lines, expected);
  QCOMPARE(ErrorReport::full({}, {5, "a", "b"}), ErrorReport::shortForm({5, "a", "b"}));
}

void TstLocalDb::errorReportFromDatabaseFailure() {
  TestAppFolder app;
  try {
    LocalDatabase::Connection db;
    db.query("SELECT * FROM tblInexistente");
    QFAIL("a missing table must fail");
  } catch (const DbError& e) {
    const QStringList lines = ErrorReport::forDbError(e).split("\r\n");
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], "VB Error #  " + QString::number(e.number));
    QCOMPARE(lines[2], QString("   Generated by SQLite"));
    QVERIFY2(lines[3].contains("tblInexistente"), qPrintable(lines[3]));
  }
}

QTEST_GUILESS_MAIN(TstLocalDb)
#include "tst_localdb.moc"
