// zide-cli enviar against the sandbox: one declaration of three companies, each company's references
// under its own key (the sandbox refuses a file whose company is not the key's), the references the
// server already lists skipped, a simulation that sends nothing, a refused company among others,
// Ctrl+C between uploads, and the data folder's lock.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "registry/deliverystore.h"
#include "registry/localdb.h"
#include "support/intakesupport.h"
#include "support/sandbox.h"
#include "support/testcerts.h"
#include "support/testenv.h"

namespace {
const QString kAccountant = "52601815000120";
const QStringList kIes = {"0623079040081", "0623079040243", "0623079040405"};
const QStringList kKeys = {"KEYA1111", "KEYB2222", "KEYC3333"};
const QString kCnpj = "11222333000181";
const QStringList kMonths = {"01/2025", "02/2025", "03/2025"};

QJsonObject json(const RunResult& r) { return QJsonDocument::fromJson(r.out).object(); }

// "resultado" of each company of a JSON run, by IE.
QMap<QString, QString> outcomes(const RunResult& r) {
  QMap<QString, QString> out;
  for (const QJsonValue& c : json(r)["empresas"].toArray())
    out[c.toObject()["ie"].toString()] = c.toObject()["resultado"].toString();
  return out;
}

QList<DeliveryStore::Delivery> journal() {
  LocalDatabase::Connection db;
  return DeliveryStore::list(db);
}
}  // namespace

class TstEnviar : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void everyCompanyUnderItsOwnKey();
  void simulationSendsNothing();
  void refusedCompanyDoesNotStopTheOthers();
  void interruptStopsBetweenUploads();
  void refusals_data();
  void refusals();
  void passwordFile_data();
  void passwordFile();
  void simplesNacional_data();
  void simplesNacional();

 private:
  RunResult enviar(const QStringList& args) const;
  // The server's recorded (IE, month) pairs.
  QStringList recorded() const;

  FirebirdLock lock_;
  QTemporaryDir shared_;
  QString gdb_;
  TestCert cert_;
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<QTemporaryDir> certs_;
  std::unique_ptr<SandboxServer> server_;
};

void TstEnviar::initTestCase() {
  // Three companies of three monthly references each, in one file, as the state's program keeps them.
  gdb_ = shared_.filePath("ESCRITORIO.GDB");
  QStringList args{"--references", "3", "--first", "2025-01", "--rows-each", "1"};
  for (int i = 0; i < kIes.size(); ++i)
    args << "--company" << kIes[i] + "," + kCnpj + ",Empresa " + QLatin1Char(char('A' + i));
  QVERIFY(makeDeclaration(gdb_, args));
  cert_ = MakeTestCert({"ESCRITORIO CONTABIL TESTE:" + kAccountant});
  // Only the certificate folder: no token modules or browser databases of the machine.
  qputenv("ZIDE_PKCS11_MODULES", "");
  qputenv("ZIDE_NSS_DBS", shared_.filePath("sem-nss").toLocal8Bit());
}

void TstEnviar::init() {
  app_ = std::make_unique<TestAppFolder>();
  app_->write("info.dip", "1.15.01");
  certs_ = std::make_unique<QTemporaryDir>();
  qputenv("ZIDE_CERTIFICADOS", certs_->path().toLocal8Bit());
  QFile pem(certs_->filePath("contador.pem"));
  QVERIFY(pem.open(QIODevice::WriteOnly) && pem.write(cert_.certPem) > 0);
  pem.close();
  QStringList args{"--ano-trabalho", "2025/2026"};
  for (int i = 0; i < kIes.size(); ++i) args << "--contribuinte" << kIes[i] + ":" + kKeys[i] + ":" + kCnpj;
  server_ = std::make_unique<SandboxServer>(args);
  QVERIFY2(server_->isRunning(), qPrintable(server_->log()));
  app_->writeSettings("127.0.0.1", QString::number(server_->port()));
  LocalDatabase::Connection db;
  db.exec("Insert into tblContador (cont_cpf_cnpj, cont_num_crc, cont_razao_nome) values (?, '1', 'Escritório')",
          {"52.601.815/0001-20"});
  for (int i = 0; i < kIes.size(); ++i)
    db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values (?,?,?,?,?,?,0)",
            {kIes[i], QString("Empresa ") + QLatin1Char(char('A' + i)), kCnpj, "4711-3/02", kKeys[i], "77"});
}

void TstEnviar::cleanup() {
  server_.reset();
  certs_.reset();
  app_.reset();
}

RunResult TstEnviar::enviar(const QStringList& args) const {
  return runProgram(builtProgram("zide-cli"), QStringList{"enviar"} + args, {}, 240000);
}

QStringList TstEnviar::recorded() const {
  QStringList out;
  for (const auto& r : server_->rows("SELECT ie, referencia FROM transmissao ORDER BY id"))
    out << r.value("ie").toString() + " " + r.value("referencia").toString();
  return out;
}

void TstEnviar::everyCompanyUnderItsOwnKey() {
  // The first company already delivered February: that month is skipped, the others go.
  const RunResult first = enviar({gdb_, "--ie", kIes[0], "--referencias", "02/2025"});
  QVERIFY2(first.exitCode == 0, first.out + first.err);
  const RunResult all = enviar({gdb_, "--todas-as-empresas", "--formato", "json"});
  QVERIFY2(all.exitCode == 0, all.out + all.err);
  QStringList want{kIes[0] + " 02/2025", kIes[0] + " 01/2025", kIes[0] + " 03/2025"};
  for (const QString& ie : kIes.mid(1))
    for (const QString& m : kMonths) want << ie + " " + m;
  QCOMPARE(recorded(), want);
  const QJsonArray companies = json(all)["empresas"].toArray();
  QCOMPARE(companies.size(), 3);
  QCOMPARE(companies[0].toObject()["foraDoEnvio"].toArray().first().toString(),
           QString("02/2025 (já consta na lista)"));

  // One journal row per upload, each with its company's rows of the copy.
  const QList<DeliveryStore::Delivery> rows = journal();
  QCOMPARE(rows.size(), 4);
  for (const DeliveryStore::Delivery& d : rows) {
    QCOMPARE(d.veredito, QString("registrado"));
    QVERIFY2(d.tabelas.contains("TAB03002: 1 mantidas, 2 fora"), qPrintable(d.tabelas));
  }
  QCOMPARE(rows[0].ie, kIes[2]);
  QCOMPARE(rows[0].referencias, kMonths.join(", "));
  QVERIFY(
      QString::fromUtf8(runProgram(builtProgram("zide-cli"), {"envios"}).out).contains("TAB03002: 1 mantidas, 2 fora"));

  // Everything listed now: nothing goes again.
  const RunResult again = enviar({gdb_, "--todas-as-empresas", "--formato", "json"});
  QCOMPARE(again.exitCode, 0);
  QCOMPARE(outcomes(again).values(), QStringList(3, "ignorada"));
  QCOMPARE(journal().size(), 4);
}

void TstEnviar::simulationSendsNothing() {
  const RunResult r = enviar({gdb_, "--todas-as-empresas", "--simular"});
  QVERIFY2(r.exitCode == 0, r.out + r.err);
  QCOMPARE(QString::fromUtf8(r.out).count("seria enviada (simulação) [01/2025, 02/2025, 03/2025]"), 3);
  QVERIFY(recorded().isEmpty());
  QVERIFY(journal().isEmpty());
  QVERIFY(server_->rows("SELECT 1 FROM requisicao WHERE caminho LIKE '%upload%'").isEmpty());
}

void TstEnviar::refusedCompanyDoesNotStopTheOthers() {
  // The middle company's key is not the one the server knows.
  {
    LocalDatabase::Connection db;
    db.exec("update tblContribuinte set Chave = 'ERRADA00' where IE = ?", {kIes[1]});
  }
  const RunResult r = enviar({gdb_, "--todas-as-empresas", "--formato", "json"});
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(outcomes(r),
           (QMap<QString, QString>{{kIes[0], "confirmada"}, {kIes[1], "recusada"}, {kIes[2], "confirmada"}}));
  QCOMPARE(recorded().size(), 6);
  QCOMPARE(journal().size(), 2);
}

void TstEnviar::interruptStopsBetweenUploads() {
  QProcess p;
  p.start(builtProgram("zide-cli"), {"enviar", gdb_, "--todas-as-empresas", "--formato", "json"});
  QVERIFY(p.waitForStarted());
  QByteArray err;
  // Ctrl+C while the first upload is under way.
  while (!err.contains("enviando") && p.state() == QProcess::Running) {
    p.waitForReadyRead(1000);
    err += p.readAllStandardError();
  }
  ::kill(pid_t(p.processId()), SIGINT);
  QVERIFY(p.waitForFinished(120000));
  QCOMPARE(p.exitStatus(), QProcess::NormalExit);
  QCOMPARE(p.exitCode(), 1);
  const QJsonObject out = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
  QVERIFY(out["interrompido"].toBool());
  // Whatever went, went whole and is confirmed; at least the last company did not go.
  const QList<DeliveryStore::Delivery> rows = journal();
  QVERIFY(!rows.isEmpty() && rows.size() < 3);
  for (const DeliveryStore::Delivery& d : rows) QCOMPARE(d.veredito, QString("registrado"));
  QCOMPARE(recorded().size(), rows.size() * 3);
  QStringList states;
  for (const QJsonValue& c : out["empresas"].toArray()) states << c.toObject()["resultado"].toString();
  QCOMPARE(states.count("confirmada"), rows.size());
  QCOMPARE(states.count("nao_enviada"), 3 - rows.size());
}

void TstEnviar::refusals_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("says");
  const QString gdb = "%GDB%";
  // clang-format off
  QTest::newRow("no company")      << QStringList{gdb}                                      << 2 << "--todas-as-empresas";
  QTest::newRow("both choices")    << QStringList{gdb, "--ie", kIes[0], "--todas-as-empresas"} << 2 << "--todas-as-empresas";
  QTest::newRow("bad month")       << QStringList{gdb, "--ie", kIes[0], "--referencias", "13/2025"} << 2 << "MM/AAAA";
  QTest::newRow("not registered")  << QStringList{gdb, "--ie", "0000000000000"}             << 2 << "não está no cadastro";
  QTest::newRow("no file")         << QStringList{"/nao/existe.GDB", "--ie", kIes[0]}        << 3 << "não foi encontrado";
  QTest::newRow("not a GDB")       << QStringList{"%JUNK%", "--ie", kIes[0]}                 << 3 << "não foi possível ler";
  QTest::newRow("server down")     << QStringList{gdb, "--ie", kIes[0]}                      << 4 << "";
  QTest::newRow("lock held")       << QStringList{gdb, "--ie", kIes[0]}                      << 2 << "está aberto nesta pasta";
  // clang-format on
}

void TstEnviar::refusals() {
  QFETCH(QStringList, args);
  QFETCH(int, status);
  QFETCH(QString, says);
  const QString junk = app_->file("lixo.GDB");
  app_->write("lixo.GDB", "isto não é uma declaração");
  args.replaceInStrings("%GDB%", gdb_).replaceInStrings("%JUNK%", junk);
  if (QString(QTest::currentDataTag()) == "server down") server_->stop();
  QLockFile windows(app_->file("zide.lock"));
  if (QString(QTest::currentDataTag()) == "lock held") QVERIFY(windows.tryLock(0));
  const RunResult r = enviar(args);
  QVERIFY2(r.exitCode == status, r.out + r.err);
  QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
  QVERIFY(journal().isEmpty());
}

void TstEnviar::passwordFile_data() {
  QTest::addColumn<int>("perms");
  QTest::addColumn<QString>("password");
  QTest::addColumn<int>("status");
  // clang-format off
  QTest::newRow("owner only")     << int(QFile::ReadOwner | QFile::WriteOwner)                  << "segredo" << 0;
  QTest::newRow("group can read") << int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup) << "segredo" << 2;
  QTest::newRow("wrong password") << int(QFile::ReadOwner | QFile::WriteOwner)                  << "outra"   << 1;
  // clang-format on
}

void TstEnviar::passwordFile() {
  QFETCH(int, perms);
  QFETCH(QString, password);
  QFETCH(int, status);
  // The certificate only as a PFX file, its password in a file.
  QFile::remove(certs_->filePath("contador.pem"));
  app_->write("contador.pfx", MakePkcs12(cert_, "segredo", false));
  app_->write("senha.txt", password.toUtf8() + "\n");
  QVERIFY(QFile::setPermissions(app_->file("senha.txt"), QFileDevice::Permissions(perms)));
  const RunResult r = enviar({gdb_, "--ie", kIes[0], "--referencias", "01/2025", "--certificado",
                              app_->file("contador.pfx"), "--senha-arquivo", app_->file("senha.txt")});
  QVERIFY2(r.exitCode == status, r.out + r.err);
  QCOMPARE(recorded().size(), status == 0 ? 1 : 0);
}

void TstEnviar::simplesNacional_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("veredito");
  // clang-format off
  QTest::newRow("accepted") << QByteArray("Declaracao Simples Nacional 10/2025") << 0 << "registrado";
  QTest::newRow("receipt")  << QByteArray("Recibo de entrega 10/2025")           << 1 << "recusado";
  // clang-format on
}

void TstEnviar::simplesNacional() {
  QFETCH(QByteArray, text);
  QFETCH(int, status);
  QFETCH(QString, veredito);
  SandboxServer simples({"--contribuinte", "0623079040162:SIMP5678:11444777000161:S", "--ano-trabalho", "2025/2026"});
  QVERIFY2(simples.isRunning(), qPrintable(simples.log()));
  app_->writeSettings("127.0.0.1", QString::number(simples.port()));
  {
    LocalDatabase::Connection db;
    db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values (?,?,?,?,?,?,-1)",
            {"0623079040162", "Simples", "11444777000161", "4711-3/02", "SIMP5678", "77"});
  }
  app_->write("DeclaracaoDASN.pdf", PgdasPdf(text));
  const RunResult r = enviar({"--simples", app_->file("DeclaracaoDASN.pdf"), "--ie", "0623079040162"});
  QVERIFY2(r.exitCode == status, r.out + r.err);
  const QList<DeliveryStore::Delivery> rows = journal();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].tipo, QString("SIMPLES"));
  QCOMPARE(rows[0].veredito, veredito);
  // A refusal quotes the window's own message for the marker.
  QCOMPARE(QString::fromUtf8(r.out).contains("(Recibo) não é correto"), status != 0);
}

QTEST_MAIN(TstEnviar)
#include "tst_enviar.moc"
