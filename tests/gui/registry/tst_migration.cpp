#include <QtTest>

#include <memory>

#include "gui/registry/migrationoffer.h"
#include "registry/localdb.h"
#include "registry/migration.h"
#include "support/recorder.h"
#include "support/testenv.h"

// An earlier installation's diziz.mdb brought into diziz.db at the first use of the registry, once,
// after the user says yes to the offer.
class TstMigration : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void broughtOverIntactOnce();
  void declinedIsNotOfferedAgain();
  void notOfferedWithoutFileOrWithARegistry();
  void unreadableFileWritesNothingAndAsksAgain();

 private:
  // A new start of the program: the hook set again, then the first connection.
  void start();
  void placeLegacy(const QByteArray& bytes = QByteArray());
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<Recorder> rec_;
};

void TstMigration::init() {
  app_ = std::make_unique<TestAppFolder>();
  rec_ = std::make_unique<Recorder>();
}

void TstMigration::cleanup() {
  LocalDatabase::setFirstUseHook(nullptr);
  rec_.reset();
  app_.reset();
}

void TstMigration::start() {
  Migracao::instalar();
  LocalDatabase::Connection db;
}

void TstMigration::placeLegacy(const QByteArray& bytes) {
  if (bytes.isEmpty()) {
    QVERIFY(QFile::copy(testData("import/diziz_legado.mdb"), app_->file("diziz.mdb")));
    QFile::setPermissions(app_->file("diziz.mdb"), QFile::ReadOwner | QFile::WriteOwner);
  } else {
    app_->write("diziz.mdb", bytes);
  }
}

void TstMigration::broughtOverIntactOnce() {
  placeLegacy();
  rec_->answers.enqueue(QMessageBox::Yes);
  start();
  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Question);
  QCOMPARE(rec_->messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QVERIFY(rec_->messages[0].text.contains("diziz.mdb"));
  QCOMPARE(rec_->messages[1].text,
           QStringLiteral("Cadastro da instalação anterior trazido: 1 contador e 2 contribuintes."));

  LocalDatabase::Connection db;
  const QList<QSqlRecord> cont = db.query("SELECT * FROM tblContador");
  QCOMPARE(cont.size(), 1);
  const QStringList expected = {
      "314.159.265-90", "MG-012345/O", "José D'Assunção", "Rua das Flores", "123", "Sala 4", "Centro", "Tavarel", "MG",
      "(31) 3456-7890", "35500-000",   "jose@example.com"};
  for (int i = 0; i < expected.size(); ++i) QCOMPARE(cont[0].value(i).toString(), expected[i]);

  const QList<QSqlRecord> rows = db.query("select * from tblContribuinte order by IE");
  QCOMPARE(rows.size(), 2);
  QCOMPARE(rows[0].value("IE").toString(), QStringLiteral("0599528907882"));
  QCOMPARE(rows[0].value("RazaoSocial").toString(), QStringLiteral("Padaria São José Ltda"));
  QCOMPARE(rows[0].value("Cnpj").toString(), QStringLiteral("92.440.268/0001-62"));
  QCOMPARE(rows[0].value("Cnae").toString(), QStringLiteral("7428-6/51"));
  QCOMPARE(rows[0].value("Chave").toString(), QStringLiteral("AB12CD34"));
  QCOMPARE(rows[0].value("CCM").toString(), QStringLiteral("12345"));
  QCOMPARE(rows[0].value("OptanteSimples").toInt(), 0);
  QCOMPARE(rows[1].value("RazaoSocial").toString(), QStringLiteral("Comércio D'Ávila ME"));
  QCOMPARE(rows[1].value("Chave").toString(), QStringLiteral("ZX98YW76"));
  QVERIFY(rows[1].value("CCM").isNull());
  QCOMPARE(rows[1].value("OptanteSimples").toInt(), -1);  // Access's yes
  // The windows' own statements find the rows.
  QCOMPARE(db.query("select count(0) as total from tblContribuinte where IE = '0721590109284'")[0].value(0).toInt(), 1);

  // Later connections in the same run and a second start ask nothing.
  LocalDatabase::Connection again;
  rec_->clear();
  start();
  QVERIFY(rec_->messages.isEmpty());
  QCOMPARE(db.query("select count(0) from tblContribuinte")[0].value(0).toInt(), 2);
}

void TstMigration::declinedIsNotOfferedAgain() {
  placeLegacy();
  rec_->answers.enqueue(QMessageBox::No);
  start();
  QCOMPARE(rec_->messages.size(), 1);
  LocalDatabase::Connection db;
  QVERIFY(db.query("SELECT * FROM tblContador").isEmpty());
  QVERIFY(db.query("select * from tblContribuinte").isEmpty());
  rec_->clear();
  start();
  QVERIFY(rec_->messages.isEmpty());
}

void TstMigration::notOfferedWithoutFileOrWithARegistry() {
  start();  // no diziz.mdb
  QVERIFY(rec_->messages.isEmpty());
  {
    LocalDatabase::Connection db;
    db.exec("insert into tblContribuinte (IE, RazaoSocial) values ('0623079040081', 'Já existe')");
  }
  placeLegacy();
  start();
  QVERIFY(rec_->messages.isEmpty());
  {
    LocalDatabase::Connection db;
    db.exec("delete from tblContribuinte");
    db.exec("insert into tblContador (cont_cpf_cnpj) values ('123.456.789-09')");
  }
  start();
  QVERIFY(rec_->messages.isEmpty());
  QVERIFY(!Migracao::deveOferecer());
}

void TstMigration::unreadableFileWritesNothingAndAsksAgain() {
  QFile legacy(testData("import/diziz_legado.mdb"));
  QVERIFY(legacy.open(QIODevice::ReadOnly));
  placeLegacy(legacy.read(9000));  // cut short: no readable catalog
  rec_->answers.enqueue(QMessageBox::Yes);
  start();
  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[1].icon, QMessageBox::Critical);
  QVERIFY(rec_->messages[1].text.startsWith("Não foi possível trazer o cadastro da instalação anterior (diziz.mdb):"));
  {
    LocalDatabase::Connection db;
    QVERIFY(db.query("SELECT * FROM tblContador").isEmpty());
    QVERIFY(db.query("select * from tblContribuinte").isEmpty());
  }
  // A taxpayer that cannot be written takes the accountant back with it: all or nothing.
  QFile::remove(app_->file("diziz.mdb"));
  placeLegacy();
  {
    LocalDatabase::Connection db;
    db.exec(
        "create trigger falha before insert on tblContribuinte when new.IE = '0721590109284' "
        "begin select raise(abort, 'disco cheio'); end");
  }
  rec_->clear();
  rec_->answers.enqueue(QMessageBox::Yes);
  start();
  QCOMPARE(rec_->messages.size(), 2);
  QVERIFY(rec_->messages[1].text.endsWith("disco cheio"));
  {
    LocalDatabase::Connection db;
    QVERIFY(db.query("SELECT * FROM tblContador").isEmpty());
    QVERIFY(db.query("select * from tblContribuinte").isEmpty());
    db.exec("drop trigger falha");
  }
  // Offered again on the next start, and brought over this time.
  rec_->clear();
  rec_->answers.enqueue(QMessageBox::Yes);
  start();
  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[1].icon, QMessageBox::Information);
}

QTEST_MAIN(TstMigration)
#include "tst_migration.moc"
