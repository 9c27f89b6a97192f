#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

#include "gui/main/principal.h"
#include "gui/registry/certificadodigital.h"
#include "gui/registry/certificatedialog.h"
#include "gui/widgets/forms.h"
#include "registry/certsources.h"
#include "registry/localdb.h"
#include "support/cannedserver.h"
#include "support/dialogchooser.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/shownwhole.h"
#include "support/testcerts.h"
#include "support/testenv.h"

// Certificates where Linux users keep them: the program's folder, a SoftHSM2 token, NSS databases
// made by certutil in a Firefox profile and in ~/.pki/nssdb; every source read on its own.
namespace {
const QString kIE = QStringLiteral("0908301661392");
const QString kCnpj = QStringLiteral("52.601.815/0001-20");

QString writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
  f.write(bytes);
  return path;
}

const SkippedSource* skippedAt(const CertificateListing& l, const QString& whereEndsWith) {
  for (const SkippedSource& s : l.skipped)
    if (s.where.endsWith(whereEndsWith)) return &s;
  return nullptr;
}
}  // namespace

class TstCertSources : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void holderDocument_data();
  void holderDocument();
  void firefoxProfiles();
  void dialogTextsShowWhole();
  void folderSkipsWhatItCannotRead();
  void icpChainHolderOnlyInTheAlternativeName();
  void browserDatabasesUnderHome();
  void tokenThroughP11KitAndChosenForTheKey();
  void dialogShowsEverySource();
  void cliListsEverySource();
  void accountantCertificateExpiryNotice();

 private:
  void useToken(const QByteArray& der);
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<SoftHsm> hsm_;
  QString home_, store_;
  QByteArray oldHome_;
};

void TstCertSources::init() {
  tmp_ = std::make_unique<QTemporaryDir>();
  app_ = std::make_unique<TestAppFolder>();
  home_ = tmp_->filePath("home");
  store_ = tmp_->filePath("certificados");
  QDir().mkpath(home_);
  QDir().mkpath(store_);
  oldHome_ = qgetenv("HOME");
  qputenv("HOME", home_.toLocal8Bit());
  qputenv("ZIDE_CERTIFICADOS", store_.toLocal8Bit());
  // No token module and no browser database unless a test makes one.
  qputenv("ZIDE_PKCS11_MODULES", "");
  qunsetenv("ZIDE_NSS_DBS");
  hsm_ = std::make_unique<SoftHsm>(tmp_->filePath("softhsm"));
}

void TstCertSources::cleanup() {
  Forms::unloadAll();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  hsm_.reset();
  qputenv("HOME", oldHome_);
  qunsetenv("ZIDE_CERTIFICADOS");
  qunsetenv("ZIDE_PKCS11_MODULES");
  qunsetenv("ZIDE_NSS_DBS");
  app_.reset();
  tmp_.reset();
}

void TstCertSources::useToken(const QByteArray& der) {
  QVERIFY2(hsm_->initToken("ZIDE A3"), qPrintable(hsm_->log));
  QVERIFY2(hsm_->writeCertificate("ZIDE A3", der, "01"), qPrintable(hsm_->log));
  qputenv("ZIDE_PKCS11_MODULES", SoftHsm::module().toLocal8Bit());
}

void TstCertSources::holderDocument_data() {
  QTest::addColumn<QString>("commonName");
  QTest::addColumn<QString>("san");
  QTest::addColumn<QString>("document");
  QTest::addColumn<QString>("owner");
  // Rows are laid out as tables.
  // clang-format off
  QTest::newRow("CNPJ depois dos dois-pontos") << "EMPRESA X LTDA:11222333000181" << "" << "11222333000181" << "EMPRESA X LTDA";
  QTest::newRow("CPF depois dos dois-pontos")  << "JOSE DA SILVA:12345678909"     << "" << "12345678909"    << "JOSE DA SILVA";
  QTest::newRow("CNPJ só no nome alternativo") << "EMPRESA X LTDA" << "otherName:2.16.76.1.3.3;UTF8:11222333000181" << "11222333000181" << "EMPRESA X LTDA";
  QTest::newRow("CNPJ em OCTET STRING")        << "EMPRESA X LTDA" << "otherName:2.16.76.1.3.3;OCTETSTRING:11222333000181" << "11222333000181" << "EMPRESA X LTDA";
  QTest::newRow("CPF após a data de nascimento") << "MARIA" << "otherName:2.16.76.1.3.1;UTF8:0102197512345678909000000000000000000000000000000SSPMG" << "12345678909" << "MARIA";
  QTest::newRow("o nome alternativo vale mais") << "EMPRESA:99999999000191" << "otherName:2.16.76.1.3.3;UTF8:11222333000181" << "11222333000181" << "EMPRESA:99999999000191";
  QTest::newRow("CPF zerado não conta")        << "MARIA:12345678909" << "otherName:2.16.76.1.3.1;UTF8:0102197500000000000" << "12345678909" << "MARIA";
  QTest::newRow("sem documento")               << "AC TESTE" << "" << "" << "AC TESTE";
  QTest::newRow("dois-pontos sem números")     << "SERVIDOR:PRODUCAO" << "" << "" << "SERVIDOR:PRODUCAO";
  QTest::newRow("número de tamanho errado")    << "LOJA:1234567" << "" << "" << "LOJA:1234567";
  // clang-format on
}

void TstCertSources::holderDocument() {
  QFETCH(QString, commonName);
  QFETCH(QString, san);
  QFETCH(QString, document);
  QFETCH(QString, owner);
  TestCertSpec spec{commonName};
  spec.subjectAltName = san;
  const TestCert c = MakeTestCert(spec);
  const auto info = ParseCertificate(c.der);
  QVERIFY(info);
  QCOMPARE(info->document, document);
  QCOMPARE(info->owner, owner);
  QCOMPARE(HolderDocument(c.certPem), document);
}

void TstCertSources::firefoxProfiles() {
  const QString ini = QStringLiteral(
      "[Install4F96D1932A9F858E]\nDefault=abc.default-release\nLocked=1\n\n"
      "[Profile1]\nName=default\nIsRelative=1\nPath=xyz.default\n\n"
      "[Profile0]\r\nName=default-release\r\nIsRelative=1\r\nPath=abc.default-release\r\nDefault=1\r\n\n"
      "[Profile2]\nName=outro\nIsRelative=0\nPath=/srv/perfis/outro\n\n"
      "[Profile3]\nName=sem caminho\n\n[General]\nStartWithLastProfile=1\nPath=/nao/e/perfil\n");
  QCOMPARE(CertificateSources::FirefoxProfileDirs(ini, "/home/u/.mozilla/firefox"),
           QStringList({"/home/u/.mozilla/firefox/xyz.default", "/home/u/.mozilla/firefox/abc.default-release",
                        "/srv/perfis/outro"}));
  QVERIFY(CertificateSources::FirefoxProfileDirs(QString(), "/x").isEmpty());
}

// A junk file, a truncated .pfx, a whole .pfx and a PEM with two certificates: every readable
// certificate is offered, every other file named with its reason.
void TstCertSources::folderSkipsWhatItCannotRead() {
  const TestCert good = MakeTestCert({QStringLiteral("CONTADOR:31415926590")});
  const TestCert a = MakeTestCert({QStringLiteral("EMPRESA A:11222333000181")});
  const TestCert b = MakeTestCert({QStringLiteral("EMPRESA B:11444777000161")});
  const QByteArray pfx = MakePkcs12(a, "1234", false);
  writeFile(QDir(store_).filePath("contador.cer"), good.der);
  writeFile(QDir(store_).filePath("lixo.cer"), "isto não é um certificado");
  writeFile(QDir(store_).filePath("cortado.pfx"), pfx.left(pfx.size() / 2));
  writeFile(QDir(store_).filePath("inteiro.p12"), pfx);
  writeFile(QDir(store_).filePath("dois.pem"), a.certPem + b.certPem);
  writeFile(QDir(store_).filePath("vazio.der"), QByteArray());

  const CertificateListing l = CertificateStore::list();
  QStringList docs;
  for (const CertificateInfo& c : l.certificates) docs << c.document;
  docs.sort();
  QCOMPARE(docs, QStringList({"11222333000181", "11444777000161", "31415926590"}));
  QCOMPARE(l.skipped.size(), 4);
  QVERIFY(skippedAt(l, "lixo.cer")->reason.contains("não é um certificado"));
  QVERIFY(skippedAt(l, "cortado.pfx")->reason.contains("danificado"));
  QVERIFY(skippedAt(l, "inteiro.p12")->reason.contains("Importar certificado..."));
  QCOMPARE(skippedAt(l, "vazio.der")->reason, QStringLiteral("arquivo vazio"));
  for (const SkippedSource& s : l.skipped) QCOMPARE(s.origin, CertificateOrigin::Pasta);

  // The whole .pfx brought in with its password is offered afterwards; the folder is read again.
  QCOMPARE(CertificateStore::importFile(QDir(store_).filePath("inteiro.p12"), "1234").status,
           CertificateStore::ImportStatus::Added);
  QCOMPARE(CertificateStore::list().certificates.size(), 4);

  // A named folder that is missing is one skipped source, not a failure of everything.
  qputenv("ZIDE_CERTIFICADOS", tmp_->filePath("nao-existe").toLocal8Bit());
  const CertificateListing none = CertificateSources::listAll();
  QVERIFY(none.certificates.isEmpty());
  QCOMPARE(none.skipped.size(), 1);
  QCOMPARE(none.skipped[0].reason, QStringLiteral("a pasta não existe"));
}

// Root, intermediate and holder made by the openssl program; the holder's CNPJ only in the
// alternative name. In a browser database the authorities are not offered; the holder is, and the
// key retrieval accepts it for its company.
void TstCertSources::icpChainHolderOnlyInTheAlternativeName() {
  IcpChain chain;
  QString log;
  QVERIFY2(MakeIcpChain(tmp_->filePath("icp"), "PADARIA SAO JOSE LTDA", "52601815000120", &chain, &log),
           qPrintable(log));
  const auto holder = ParseCertificate(chain.holderDer);
  QVERIFY(holder);
  QCOMPARE(holder->issuedTo, QStringLiteral("PADARIA SAO JOSE LTDA"));  // no document in the name
  QCOMPARE(holder->document, QStringLiteral("52601815000120"));
  QCOMPARE(holder->issuedBy, QStringLiteral("AC Teste RFB"));
  QVERIFY(!holder->isCa);
  QVERIFY(ParseCertificate(chain.rootPem)->isCa);

  const QString db = tmp_->filePath("nssdb");
  QVERIFY2(MakeNssDatabase(db, {chain.rootPem, chain.intermediatePem, chain.holderPem}, &log), qPrintable(log));
  qputenv("ZIDE_NSS_DBS", db.toLocal8Bit());
  const CertificateListing l = CertificateSources::listBrowsers();
  QVERIFY(l.skipped.isEmpty());
  QCOMPARE(l.certificates.size(), 1);
  QCOMPARE(l.certificates[0].der, chain.holderDer);

  CannedServer server;
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  {
    LocalDatabase::Connection conn;
    conn.exec("insert into tblContador (cont_cpf_cnpj) values ('314.159.265-90')");
  }
  server.answer(
      CannedServer::envelope("Transferencia.ecnpj", KeyReturnText(QDateTime::currentDateTime(), 'N', "ICPB1234")));
  DialogChooser person;
  person.pick = [](const CertificateInfo& c) { return c.origin == CertificateOrigin::Navegador; };
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  const auto r = cert.SelecionarCertificado(
      nullptr, {kIE, QStringLiteral("Padaria São José Ltda"), kCnpj, QStringLiteral("2486-8/54")});
  QVERIFY2(r, qPrintable(person.texts().join('|')));
  QCOMPARE(r->chave, QStringLiteral("ICPB1234"));
  QVERIFY(cert.certificadoOk);
}

// ~/.pki/nssdb and the databases of the Firefox profiles that profiles.ini names, found from HOME.
void TstCertSources::browserDatabasesUnderHome() {
  const TestCert chromium = MakeTestCert({QStringLiteral("CONTADOR CHROMIUM:31415926590")});
  const TestCert firefox = MakeTestCert({QStringLiteral("EMPRESA FIREFOX:11222333000181")});
  const QString profile = QDir(home_).filePath(".mozilla/firefox/q1w2e3.default-release");
  QString log;
  QVERIFY2(MakeNssDatabase(QDir(home_).filePath(".pki/nssdb"), {chromium.certPem}, &log), qPrintable(log));
  QVERIFY2(MakeNssDatabase(profile, {firefox.certPem}, &log), qPrintable(log));
  writeFile(QDir(home_).filePath(".mozilla/firefox/profiles.ini"),
            "[Profile0]\nName=default-release\nIsRelative=1\nPath=q1w2e3.default-release\n\n"
            "[Profile1]\nName=nunca usado\nIsRelative=1\nPath=nunca.usado\n");
  QDir().mkpath(QDir(home_).filePath(".mozilla/firefox/nunca.usado"));
  const QStringList dbs = CertificateSources::nssDatabases();
  QVERIFY(dbs.contains(QDir(home_).filePath(".pki/nssdb")));
  QVERIFY(dbs.contains(profile));

  QFile certDb(profile + "/cert9.db");
  QVERIFY(certDb.open(QIODevice::ReadOnly));
  const QByteArray bytesBefore = certDb.readAll();
  certDb.close();

  // Read twice in one process: each database is opened and closed in turn.
  for (int round = 0; round < 2; ++round) {
    const CertificateListing l = CertificateSources::listBrowsers();
    QVERIFY2(l.skipped.isEmpty(), qPrintable(l.skipped.value(0).reason));  // a profile never used is no fault
    QCOMPARE(l.certificates.size(), 2);
    for (const CertificateInfo& c : l.certificates) {
      QCOMPARE(c.origin, CertificateOrigin::Navegador);
      QCOMPARE(c.source, c.der == firefox.der ? profile : QDir(home_).filePath(".pki/nssdb"));
    }
  }
  // Read-only: the database is as certutil left it.
  QVERIFY(certDb.open(QIODevice::ReadOnly));
  QCOMPARE(certDb.readAll(), bytesBefore);

  // A database that is not one is named with NSS's reason; the other is still read.
  writeFile(profile + "/cert9.db", "lixo");
  const CertificateListing broken = CertificateSources::listBrowsers();
  QCOMPARE(broken.certificates.size(), 1);
  QCOMPARE(broken.skipped.size(), 1);
  QCOMPARE(broken.skipped[0].where, profile);
  QVERIFY(broken.skipped[0].reason.startsWith("o banco não pôde ser aberto"));
}

// The token found through p11-kit's own list of modules (SoftHSM2 is registered there), listed
// beside the folder, chosen in the dialog, and the key obtained from the municipality's server.
void TstCertSources::tokenThroughP11KitAndChosenForTheKey() {
  const TestCert company = MakeTestCert({QStringLiteral("PADARIA SAO JOSE LTDA:52601815000120")});
  const TestCert other = MakeTestCert({QStringLiteral("OUTRA:11444777000161")});
  writeFile(QDir(store_).filePath("outra.cer"), other.der);
  useToken(company.der);
  qunsetenv("ZIDE_PKCS11_MODULES");  // p11-kit's list
  const CertificateListing tokens = CertificateSources::listTokens();
  QVERIFY2(tokens.skipped.isEmpty(), qPrintable(tokens.skipped.value(0).where + tokens.skipped.value(0).reason));
  QCOMPARE(tokens.certificates.size(), 1);
  QCOMPARE(tokens.certificates[0].der, company.der);
  QCOMPARE(tokens.certificates[0].source, QStringLiteral("ZIDE A3"));

  SandboxServer server({"--contribuinte", kIE + ":AB12CD34:" + kCnpj + ":S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  {
    LocalDatabase::Connection conn;
    conn.exec("insert into tblContador (cont_cpf_cnpj) values ('314.159.265-90')");
  }
  DialogChooser person;
  person.pick = [](const CertificateInfo& c) { return c.origin == CertificateOrigin::Token; };
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  const auto r = cert.SelecionarCertificado(
      nullptr, {kIE, QStringLiteral("Padaria São José Ltda"), kCnpj, QStringLiteral("2486-8/54")});
  QVERIFY2(r, qPrintable(person.texts().join('|')));
  QCOMPARE(r->chave, QStringLiteral("AB12CD34"));
  QVERIFY(r->simples);

  // The folder's certificate of another company is refused by the same routine.
  person.pick = [](const CertificateInfo& c) { return c.origin == CertificateOrigin::Pasta; };
  QVERIFY(!cert.SelecionarCertificado(nullptr, {kIE, QStringLiteral("Padaria"), kCnpj, QStringLiteral("2486-8/54")}));
  QCOMPARE(person.lastText(),
           QStringLiteral("O Certificado não possui informações da empresa selecionada ou contador."));

  // A module that does not load is named; the token of the other module is still listed.
  qputenv("ZIDE_PKCS11_MODULES", (tmp_->filePath("nao-existe.so") + ":" + SoftHsm::module()).toLocal8Bit());
  const CertificateListing two = CertificateSources::listTokens();
  QCOMPARE(two.certificates.size(), 1);
  QCOMPARE(two.skipped.size(), 1);
  QVERIFY(two.skipped[0].reason.startsWith("o módulo não pôde ser carregado"));
}

void TstCertSources::dialogShowsEverySource() {
  TestCertSpec expired{QStringLiteral("ESCRITORIO CONTABIL:34567890000130")};
  expired.notBefore = QDateTime::currentDateTimeUtc().addYears(-1);
  expired.notAfter = QDateTime::currentDateTimeUtc().addDays(-3);
  writeFile(QDir(store_).filePath("escritorio.cer"), MakeTestCert(expired).der);
  writeFile(QDir(store_).filePath("lixo.cer"), "lixo");
  useToken(MakeTestCert({QStringLiteral("PADARIA SAO JOSE LTDA:52601815000120")}).der);
  const QString db = QDir(home_).filePath(".pki/nssdb");
  QString log;
  QVERIFY2(MakeNssDatabase(db, {MakeTestCert({QStringLiteral("JOSE D ASSUNCAO:31415926590")}).certPem}, &log),
           qPrintable(log));

  Recorder rec;
  CertificateDialog dialog(nullptr, "Selecione o Certificado Digital (e-CNPJ)",
                           "Escolha o certificado e-CNPJ da empresa para receber a chave");
  auto* tree = dialog.findChild<QTreeWidget*>("lstCertificados");
  QStringList headers;
  for (int i = 0; i < tree->columnCount(); ++i) headers << tree->headerItem()->text(i);
  QCOMPARE(headers, QStringList({"Emitido para", "CNPJ/CPF", "Emitido por", "Válido de", "Válido até", "Origem"}));
  QCOMPARE(tree->topLevelItemCount(), 3);
  QStringList rows;
  for (int i = 0; i < 3; ++i) {
    const QTreeWidgetItem* it = tree->topLevelItem(i);
    rows << it->text(0) + "|" + it->text(1) + "|" + it->text(5);
  }
  QCOMPARE(rows, QStringList({"ESCRITORIO CONTABIL|34.567.890/0001-30|Pasta do programa",
                              "PADARIA SAO JOSE LTDA|52.601.815/0001-20|Token / cartão: ZIDE A3",
                              "JOSE D ASSUNCAO|314.159.265-90|Navegador: ~/.pki/nssdb"}));
  QVERIFY(tree->topLevelItem(0)->text(4).endsWith(" (vencido)"));
  QVERIFY(!tree->topLevelItem(1)->text(4).contains("vencido"));
  auto* skipped = dialog.findChild<QListWidget*>("lstIgnorados");
  QCOMPARE(skipped->count(), 1);
  QVERIFY(skipped->item(0)->text().contains("lixo.cer"));
  QVERIFY(!skipped->isHidden());
  QVERIFY(dialog.findChild<QPushButton*>("cmdImportar")->isEnabled());
  tree->setCurrentItem(tree->topLevelItem(1));
  QCOMPARE(dialog.selectedDer(), dialog.certificates()[1].der);

  const QString shots = qEnvironmentVariable("ZIDE_SCREENSHOTS");
  if (!shots.isEmpty()) {
    dialog.show();
    QCoreApplication::processEvents();
    QVERIFY(dialog.grab().save(QDir(shots).filePath("certificados.png")));
  }
}

void TstCertSources::cliListsEverySource() {
  const TestCert folder = MakeTestCert({QStringLiteral("CONTADOR:31415926590")});
  TestCertSpec old{QStringLiteral("VENCIDO:11444777000161")};
  old.notBefore = QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
  old.notAfter = QDateTime(QDate(2021, 1, 2), QTime(3, 4, 5), Qt::UTC);
  const TestCert expired = MakeTestCert(old);
  writeFile(QDir(store_).filePath("contador.cer"), folder.der);
  writeFile(QDir(store_).filePath("lixo.cer"), "lixo");
  const TestCert token = MakeTestCert({QStringLiteral("EMPRESA TOKEN:11222333000181")});
  useToken(token.der);
  const QString db = tmp_->filePath("perfil");
  QString log;
  QVERIFY2(MakeNssDatabase(db, {expired.certPem}, &log), qPrintable(log));

  QProcess cli;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("ZIDE_NSS_DBS", db + ":" + tmp_->filePath("sem-banco"));
  cli.setProcessEnvironment(env);
  cli.start(builtProgram("zide-cli"), {"certificados", "--formato", "json"});
  QVERIFY(cli.waitForFinished(60000));
  QCOMPARE(cli.exitCode(), 0);
  const QString err = QString::fromUtf8(cli.readAllStandardError());
  QVERIFY2(err.contains("lixo.cer") && err.contains("não é um certificado"), qPrintable(err));
  QVERIFY2(err.contains("sem-banco") && err.contains("cert9.db"), qPrintable(err));
  QJsonParseError perr;
  const QJsonDocument doc = QJsonDocument::fromJson(cli.readAllStandardOutput(), &perr);
  QVERIFY2(doc.isArray(), qPrintable(perr.errorString()));
  QMap<QString, QJsonObject> byOrigin;
  for (const QJsonValue& v : doc.array()) byOrigin.insert(v["origem"].toString(), v.toObject());
  QCOMPARE(byOrigin.keys(), QStringList({"navegador", "pasta", "token"}));
  const QJsonObject nav = byOrigin["navegador"];
  QCOMPARE(nav["titular"].toString(), QStringLiteral("VENCIDO"));
  QCOMPARE(nav["documento"].toString(), QStringLiteral("11444777000161"));
  QCOMPARE(nav["emissor"].toString(), QStringLiteral("AC TESTE ZIDE"));
  QCOMPARE(nav["validoDe"].toString(), QStringLiteral("2020-01-02T03:04:05Z"));
  QCOMPARE(nav["validoAte"].toString(), QStringLiteral("2021-01-02T03:04:05Z"));
  QCOMPARE(nav["vencido"].toBool(), true);
  QCOMPARE(nav["sha1"].toString(),
           QString::fromLatin1(QCryptographicHash::hash(expired.der, QCryptographicHash::Sha1).toHex()));
  QCOMPARE(byOrigin["pasta"]["documento"].toString(), QStringLiteral("31415926590"));
  QCOMPARE(byOrigin["token"]["titular"].toString(), QStringLiteral("EMPRESA TOKEN"));
  QCOMPARE(QDateTime::fromString(byOrigin["token"]["validoAte"].toString(), Qt::ISODate),
           ParseCertificate(token.der)->validTo);

  // The text form: one line per certificate, origin first.
  cli.start(builtProgram("zide-cli"), {"certificados"});
  QVERIFY(cli.waitForFinished(60000));
  QCOMPARE(cli.exitCode(), 0);
  const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), 3);
  QVERIFY(lines[0].startsWith("pasta\tCONTADOR\t31415926590\t"));
  cli.start(builtProgram("zide-cli"), {"certificados", "--formato", "xml"});
  QVERIFY(cli.waitForFinished(60000));
  QCOMPARE(cli.exitCode(), 2);
}

// The main window, once per start, says when the accountant's certificate expires or expired.
void TstCertSources::accountantCertificateExpiryNotice() {
  {
    LocalDatabase::Connection conn;
    conn.exec("insert into tblContador (cont_cpf_cnpj) values ('314.159.265-90')");
  }
  Recorder rec;
  auto put = [&](const QString& name, int daysLeft) {
    TestCertSpec s{name + ":31415926590"};
    s.notBefore = QDateTime::currentDateTimeUtc().addYears(-1);
    // The last minute of the calendar day daysLeft days from today: the count holds at any hour.
    s.notAfter = QDateTime(QDate::currentDate().addDays(daysLeft), QTime(23, 59)).toUTC();
    writeFile(QDir(store_).filePath(name + ".cer"), MakeTestCert(s).der);
  };
  // Someone else's certificate about to expire says nothing.
  TestCertSpec company{QStringLiteral("EMPRESA:11222333000181")};
  company.notAfter = QDateTime::currentDateTimeUtc().addDays(2);
  writeFile(QDir(store_).filePath("empresa.cer"), MakeTestCert(company).der);
  put("CONTADOR", 10);

  auto* p = Forms::get<Principal>();
  p->show();
  QTRY_COMPARE(rec.messages.size(), 1);
  QCOMPARE(rec.messages[0].icon, QMessageBox::Warning);
  QCOMPARE(rec.messages[0].title, kMsgTitle);
  QVERIFY2(rec.lastText().startsWith("O certificado digital do contador (CONTADOR) vence em "),
           qPrintable(rec.lastText()));
  QVERIFY(rec.lastText().contains("daqui a 10 dias"));
  // Shown again in the same run: no second notice.
  p->hide();
  p->show();
  QTest::qWait(50);
  QCOMPARE(rec.messages.size(), 1);

  rec.clear();
  QDir(store_).remove("CONTADOR.cer");
  put("CONTADOR", -5);
  QVERIFY(p->AvisoValidadeCertificado());
  QVERIFY2(rec.lastText().startsWith("O certificado digital do contador (CONTADOR) venceu em "),
           qPrintable(rec.lastText()));
  // A renewed certificate beside the expired one: nothing to say; nor 60 days ahead.
  put("CONTADOR RENOVADO", 300);
  QVERIFY(!p->AvisoValidadeCertificado());
  QDir(store_).remove("CONTADOR RENOVADO.cer");
  put("CONTADOR RENOVADO", 60);
  QVERIFY(!p->AvisoValidadeCertificado());
  QCOMPARE(rec.messages.size(), 1);
}

// Every text of the list shows whole, whether the certificates were there when the dialog opened
// or came in through "Importar certificado..." while it was open.
void TstCertSources::dialogTextsShowWhole() {
  TestCertSpec expired{QStringLiteral("ESCRITORIO CONTABIL DEMONSTRACAO LTDA:34567890000130")};
  expired.notBefore = QDateTime::currentDateTimeUtc().addYears(-1);
  expired.notAfter = QDateTime::currentDateTimeUtc().addDays(-3);
  const QString imported = writeFile(tmp_->filePath("novo/empresa.cer"),
                                     MakeTestCert({QStringLiteral("PADARIA SAO JOSE LTDA:52601815000120")}).der);
  auto allShownWhole = [](QTreeWidget* tree) {
    QStringList cut;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      for (int c = 0; c < tree->columnCount(); ++c)
        if (!ShownWhole::cell(tree, tree->topLevelItem(i), c)) cut << tree->topLevelItem(i)->text(c);
    for (int c = 0; c < tree->columnCount(); ++c)
      if (!ShownWhole::section(tree->header(), c)) cut << tree->headerItem()->text(c);
    return cut.join('|');
  };
  Recorder rec;
  {
    CertificateDialog dialog(nullptr, "Selecione", "Escolha");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* tree = dialog.findChild<QTreeWidget*>("lstCertificados");
    QCOMPARE(tree->topLevelItemCount(), 0);
    rec.files.enqueue(imported);
    dialog.importar();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(allShownWhole(tree), QString());
  }
  writeFile(QDir(store_).filePath("escritorio.cer"), MakeTestCert(expired).der);
  CertificateDialog dialog(nullptr, "Selecione", "Escolha");
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  auto* tree = dialog.findChild<QTreeWidget*>("lstCertificados");
  QCOMPARE(tree->topLevelItemCount(), 2);
  QCOMPARE(allShownWhole(tree), QString());
}

QTEST_MAIN(TstCertSources)
#include "tst_certsources.moc"
