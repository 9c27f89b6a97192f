#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <memory>

#include "gui/registry/certificadodigital.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/widgets/forms.h"
#include "registry/certificates.h"
#include "registry/localdb.h"
#include "registry/registrylogic.h"
#include "support/cannedserver.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testcerts.h"
#include "support/testenv.h"

// The certificate routine in its creation-window and transmission-window copies, against a server
// that answers as each case needs.
namespace {
const QString kIE = QStringLiteral("0908301661392");
const QString kCnpj = QStringLiteral("52.601.815/0001-20");
const QString kCnae = QStringLiteral("2486-8/54");
const QString kOwnership = QStringLiteral("O Certificado não possui informações da empresa selecionada ou contador.");
const QString kExpired = QStringLiteral("Certificado expirado, contate seu fornecedor");
const QString kInvalidTitle = QStringLiteral("DUZO - Zaruvo r Azurera - RO - Certificado Inválido");

DadosEmpresa empresa() { return {kIE, QStringLiteral("Padaria São José Ltda"), kCnpj, kCnae}; }
}  // namespace

class TstCertRoutine : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void companyCertificateGetsTheKey();
  void keyFromTheSandbox();
  void accountantCertificateServesAnyCompany();
  void foreignCertificateRefusedBeforeAnyRequest();
  void validityBoundsAreInclusive();
  void refusalAnywhereInTheReply();
  void simplesFlagIsUpperCaseSOnly();
  void cancelChangesNothing();
  void fieldChecksComeFirst();
  void componentFailures();
  void distributionPointsFailureOnlyWarns();
  void creationWindowFillsItsBoxes();
  void transmissionCopySetsAndClearsTheFlag();
  void transmissionCopyWithoutAccountantAcceptsNothing();

 private:
  QByteArray addToStore(const TestCertSpec& spec);
  void answerKey(const QDateTime& when, QChar simples, const QString& key);
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<QTemporaryDir> store_;
  std::unique_ptr<CannedServer> server_;
  std::unique_ptr<Recorder> rec_;
};

void TstCertRoutine::init() {
  app_ = std::make_unique<TestAppFolder>();
  store_ = std::make_unique<QTemporaryDir>();
  qputenv("ZIDE_CERTIFICADOS", store_->path().toLocal8Bit());
  server_ = std::make_unique<CannedServer>();
  app_->writeSettings("127.0.0.1", QString::number(server_->port()));
  rec_ = std::make_unique<Recorder>();
  LocalDatabase::Connection db;
  db.exec("insert into tblContador (cont_cpf_cnpj, cont_razao_nome) values ('314.159.265-90', 'José D''Assunção')");
}

void TstCertRoutine::cleanup() {
  Forms::unloadAll();
  rec_.reset();
  server_.reset();
  qunsetenv("ZIDE_CERTIFICADOS");
  store_.reset();
  app_.reset();
}

QByteArray TstCertRoutine::addToStore(const TestCertSpec& spec) {
  const TestCert c = MakeTestCert(spec);
  QFile f(QDir(store_->path()).filePath(spec.commonName.section(':', 0, 0) + ".pem"));
  if (!f.open(QIODevice::WriteOnly)) qFatal("store");
  f.write(c.certPem);
  return c.der;
}

void TstCertRoutine::answerKey(const QDateTime& when, QChar simples, const QString& key) {
  server_->answer(CannedServer::envelope("Transferencia.ecnpj", KeyReturnText(when, simples, key)));
}

void TstCertRoutine::companyCertificateGetsTheKey() {
  const QByteArray der = addToStore({QStringLiteral("PADARIA SAO JOSE LTDA:52601815000120")});
  rec_->certificates.enqueue(der);
  answerKey(QDateTime::currentDateTime(), 'S', "AB12CD34");
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  const auto r = cert.SelecionarCertificado(nullptr, empresa());
  QVERIFY(r);
  QCOMPARE(r->chave, QStringLiteral("AB12CD34"));
  QVERIFY(r->simples);
  QVERIFY(cert.certificadoOk);
  QCOMPARE(cert.docContador, QStringLiteral("31415926590"));
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join('|')));
  QCOMPARE(rec_->certificateDialogs.size(), 1);
  QCOMPARE(rec_->certificateDialogs[0], QStringList({"Selecione o Certificado Digital (e-CNPJ)",
                                                     "Escolha o certificado e-CNPJ da empresa para receber a chave"}));
  // One request, with the IE, the masked CNPJ and the fixed key, in that order.
  QCOMPARE(server_->requests.size(), 1);
  const QByteArray body = server_->requests[0].body;
  QVERIFY(server_->requests[0].head.contains("Transferencia.ecnpj"));
  const qsizetype ie = body.indexOf("<ie>" + kIE.toLatin1() + "</ie>");
  const qsizetype cnpj = body.indexOf("<cnpj>" + kCnpj.toLatin1() + "</cnpj>");
  const qsizetype key = body.indexOf("<key>!QORTENBAL!</key>");
  QVERIFY2(ie >= 0 && cnpj > ie && key > cnpj, body.constData());
}

void TstCertRoutine::keyFromTheSandbox() {
  SandboxServer server({"--contribuinte", kIE + ":AB12CD34:" + kCnpj + ":S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  const QByteArray der = addToStore({QStringLiteral("PADARIA SAO JOSE LTDA:52601815000120")});
  rec_->certificates.enqueue(der);
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  const auto r = cert.SelecionarCertificado(nullptr, empresa());
  QVERIFY2(r, qPrintable(rec_->texts().join('|')));
  QCOMPARE(r->chave, QStringLiteral("AB12CD34"));
  QVERIFY(r->simples);
  // Another IE is unknown to the municipality.
  rec_->certificates.enqueue(der);
  DadosEmpresa other = empresa();
  other.ie = QStringLiteral("0603082462862");
  QVERIFY(!cert.SelecionarCertificado(nullptr, other));
  QCOMPARE(rec_->texts(), QStringList{TextoNaoAutorizado()});
  QCOMPARE(
      server.rows("select count(*) as n from requisicao where operacao = 'Transferencia.ecnpj'")[0].value("n").toInt(),
      2);
}

void TstCertRoutine::accountantCertificateServesAnyCompany() {
  const QByteArray der = addToStore({QStringLiteral("JOSE D ASSUNCAO:31415926590")});
  for (const QString& cnpj : {kCnpj, QStringLiteral("11.444.777/0001-61")}) {
    rec_->certificates.enqueue(der);
    answerKey(QDateTime::currentDateTime(), 'N', "K" + cnpj.left(2) + "XYZW1");
    DadosEmpresa e = empresa();
    e.cnpj = cnpj;
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    const auto r = cert.SelecionarCertificado(nullptr, e);
    QVERIFY(r);
    QCOMPARE(r->chave, "K" + cnpj.left(2) + "XYZW1");
    QVERIFY(!r->simples);
  }
  QVERIFY(rec_->messages.isEmpty());
}

void TstCertRoutine::foreignCertificateRefusedBeforeAnyRequest() {
  // Another company, and the CNPJ with its punctuation (never present as such in a certificate).
  const QByteArray other = addToStore({QStringLiteral("OUTRA EMPRESA:11444777000161")});
  const QByteArray punctuated = addToStore({QStringLiteral("PADARIA:") + kCnpj});
  for (const QByteArray& der : {other, punctuated}) {
    rec_->clear();
    rec_->certificates.enqueue(der);
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    QVERIFY(!cert.SelecionarCertificado(nullptr, empresa()));
    QVERIFY(!cert.certificadoOk);
    QCOMPARE(rec_->texts(), QStringList{kOwnership});
    QCOMPARE(rec_->messages[0].icon, QMessageBox::Information);
    QCOMPARE(rec_->messages[0].title, kMsgTitle);
  }
  QVERIFY(server_->requests.isEmpty());
}

void TstCertRoutine::validityBoundsAreInclusive() {
  TestCertSpec spec{QStringLiteral("PADARIA:52601815000120")};
  spec.notBefore = QDateTime::currentDateTimeUtc().addDays(-10);
  spec.notAfter = QDateTime::currentDateTimeUtc().addDays(10);
  const QByteArray der = addToStore(spec);
  const TestCert made{{},
                      {},
                      {},
                      QDateTime::fromSecsSinceEpoch(spec.notBefore.toSecsSinceEpoch(), Qt::UTC),
                      QDateTime::fromSecsSinceEpoch(spec.notAfter.toSecsSinceEpoch(), Qt::UTC)};
  struct Case {
    QDateTime when;
    bool accepted;
  };
  const Case cases[] = {{made.notAfter, true},
                        {made.notBefore, true},
                        {made.notAfter.addSecs(1), false},
                        {made.notBefore.addSecs(-1), false}};
  for (const Case& c : cases) {
    rec_->clear();
    rec_->certificates.enqueue(der);
    answerKey(c.when, 'S', "ZX98YW76");
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    const auto r = cert.SelecionarCertificado(nullptr, empresa());
    QCOMPARE(bool(r), c.accepted);
    if (c.accepted) {
      QVERIFY(rec_->messages.isEmpty());
    } else {
      QCOMPARE(rec_->texts(), QStringList{kExpired});
      QCOMPARE(rec_->messages[0].icon, QMessageBox::NoIcon);
      QCOMPARE(rec_->messages[0].title, kAppTitle);
    }
  }
  // A certificate that expired last month, and the server's clock of today.
  TestCertSpec expired{QStringLiteral("PADARIA VENCIDO:52601815000120")};
  expired.notBefore = QDateTime::currentDateTimeUtc().addYears(-2);
  expired.notAfter = QDateTime::currentDateTimeUtc().addMonths(-1);
  rec_->clear();
  rec_->certificates.enqueue(addToStore(expired));
  answerKey(QDateTime::currentDateTime(), 'S', "ZX98YW76");
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  QVERIFY(!cert.SelecionarCertificado(nullptr, empresa()));
  QCOMPARE(rec_->texts(), QStringList{kExpired});
}

void TstCertRoutine::refusalAnywhereInTheReply() {
  const QByteArray der = addToStore({QStringLiteral("PADARIA:52601815000120")});
  // A well-formed key text that carries the marker inside another word still counts as a refusal.
  const QString text = KeyReturnText(QDateTime::currentDateTime(), 'S', "AB12CD34") + " XNAO_AUTORIZADOX";
  for (const QByteArray& reply :
       {CannedServer::envelope("Transferencia.ecnpj", text), QByteArray("<html>NAO_AUTORIZADO</html>")}) {
    rec_->clear();
    server_->answer(reply);
    rec_->certificates.enqueue(der);
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    QVERIFY(!cert.SelecionarCertificado(nullptr, empresa()));
    QCOMPARE(rec_->texts(), QStringList{TextoNaoAutorizado()});
    QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
    QCOMPARE(rec_->messages[0].title, kMsgTitle);
    QVERIFY(rec_->messages[0].text.contains("\r\n\r\nSolicitamos entrar em contato por E-MAIL"));
  }
}

void TstCertRoutine::simplesFlagIsUpperCaseSOnly() {
  const QByteArray der = addToStore({QStringLiteral("PADARIA:52601815000120")});
  for (const QChar flag : {QChar('s'), QChar('N'), QChar(' '), QChar('S')}) {
    rec_->certificates.enqueue(der);
    answerKey(QDateTime::currentDateTime(), flag, "AB12CD34");
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    const auto r = cert.SelecionarCertificado(nullptr, empresa());
    QVERIFY(r);
    QCOMPARE(r->simples, flag == QChar('S'));
  }
  // The reply parser on its own: positions counted from 1; a short text gives a short key.
  const RespostaChave p = InterpretarRespostaChave(
      CannedServer::envelope("x", KeyReturnText(QDateTime(QDate(2025, 3, 4), QTime(5, 6, 7)), 'S', "ABC")));
  QVERIFY(!p.naoAutorizado);
  QCOMPARE(*p.momento, QDateTime(QDate(2025, 3, 4), QTime(5, 6, 7)));
  QCOMPARE(p.chave, QStringLiteral("ABC"));
}

void TstCertRoutine::cancelChangesNothing() {
  addToStore({QStringLiteral("PADARIA:52601815000120")});
  CertificadoDigital creation(CopiaCertificado::CriacaoContribuinte);
  creation.certificadoOk = true;
  QVERIFY(!creation.SelecionarCertificado(nullptr, empresa()));  // nothing scripted: cancelled
  QVERIFY(creation.certificadoOk);
  CertificadoDigital transmission(CopiaCertificado::Transmissao);
  transmission.docContador = "31415926590";
  QVERIFY(!transmission.SelecionarCertificado(nullptr, QDateTime::currentDateTime()));
  transmission.certificadoOk = true;
  rec_->certificates.enqueue(std::nullopt);
  QVERIFY(transmission.SelecionarCertificado(nullptr, QDateTime::currentDateTime()));
  QCOMPARE(rec_->certificateDialogs.size(), 3);
  QVERIFY(rec_->messages.isEmpty());
  QVERIFY(server_->requests.isEmpty());
}

void TstCertRoutine::fieldChecksComeFirst() {
  struct Case {
    DadosEmpresa e;
    QString message;
  };
  const QList<Case> cases = {
      {{"090830166139_", "Padaria", kCnpj, kCnae}, "Inscrição Estadual preenchida incorretamente"},
      {{kIE, "", kCnpj, kCnae}, "Razão Social preenchida incorretamente"},
      {{kIE, "Padaria", "52.601.815/0001-2_", kCnae}, "CNPJ preenchido incorretamente"},
      {{kIE, "Padaria", "52.601.815/0001-21", kCnae}, "CNPJ preenchido é inválido"},
      {{kIE, "Padaria", kCnpj, "2486-8/5_"}, "CNAE preenchido incorretamente"},
  };
  for (const Case& c : cases) {
    rec_->clear();
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    QVERIFY(!cert.SelecionarCertificado(nullptr, c.e));
    QCOMPARE(rec_->texts(), QStringList{c.message});
    QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
    QCOMPARE(rec_->messages[0].title, kMsgTitle);
    QVERIFY(rec_->certificateDialogs.isEmpty());
  }
}

void TstCertRoutine::componentFailures() {
  const QByteArray der = addToStore({QStringLiteral("PADARIA:52601815000120")});
  auto run = [&] {
    rec_->clear();
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    const bool got = bool(cert.SelecionarCertificado(nullptr, empresa()));
    QVERIFY(!got);
    QCOMPARE(rec_->texts(), QStringList{ComponentFailureText()});
    QCOMPARE(rec_->messages[0].title, kAppTitle);
  };
  QVERIFY(ComponentFailureText().startsWith("O programa não pode inicializar os componentes necessários.\r\n"));

  // A reply whose text holds no date at its place.
  rec_->certificates.enqueue(der);
  server_->answer(CannedServer::envelope("Transferencia.ecnpj", "CHAVE INDISPONIVEL"));
  run();
  // The chosen bytes are no certificate.
  rec_->certificates.enqueue(QByteArray("lixo"));
  run();
  // A file in the store that is no certificate, or a store folder that is missing, is no failure
  // of the routine: the dialog names it and the certificates of the other sources are chosen.
  QFile junk(QDir(store_->path()).filePath("x.cer"));
  QVERIFY(junk.open(QIODevice::WriteOnly));
  junk.write("lixo");
  junk.close();
  for (const QByteArray& folder : {store_->path().toLocal8Bit(), QByteArray("/nonexistent/zide-certificados")}) {
    qputenv("ZIDE_CERTIFICADOS", folder);
    rec_->clear();
    rec_->certificates.enqueue(der);
    answerKey(QDateTime::currentDateTime(), 'S', "AB12CD34");
    CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
    const auto r = cert.SelecionarCertificado(nullptr, empresa());
    QVERIFY2(r, qPrintable(rec_->texts().join('|')));
    QCOMPARE(r->chave, QStringLiteral("AB12CD34"));
    QCOMPARE(rec_->certificateDialogs.size(), 1);
    QVERIFY(rec_->messages.isEmpty());
  }
  junk.remove();
  qputenv("ZIDE_CERTIFICADOS", store_->path().toLocal8Bit());
  // No server: the computer is fine, so the connection message, as the accountant window says it.
  QTcpServer closed;
  QVERIFY(closed.listen(QHostAddress::LocalHost));
  const quint16 port = closed.serverPort();
  closed.close();
  app_->writeSettings("127.0.0.1", QString::number(port));
  rec_->clear();
  rec_->certificates.enqueue(der);
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  QVERIFY(!cert.SelecionarCertificado(nullptr, empresa()));
  QCOMPARE(rec_->texts(), QStringList{FalhaConexaoTexto(2)});
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(rec_->messages[0].title, kMsgTitle);
}

void TstCertRoutine::distributionPointsFailureOnlyWarns() {
  TestCertSpec broken{QStringLiteral("PADARIA:52601815000120")};
  broken.brokenCdp = true;
  rec_->certificates.enqueue(addToStore(broken));
  answerKey(QDateTime::currentDateTime(), 'S', "AB12CD34");
  CertificadoDigital cert(CopiaCertificado::CriacaoContribuinte);
  const auto r = cert.SelecionarCertificado(nullptr, empresa());
  QVERIFY(r);
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY(rec_->messages[0].text.startsWith("Could not retrieve the URLs from the CDP extension: 0x"));
  const QString code =
      rec_->messages[0].text.mid(QString("Could not retrieve the URLs from the CDP extension: 0x").size());
  QVERIFY(!code.isEmpty());
  QCOMPARE(code, code.toUpper());
  bool hex = false;
  code.toULongLong(&hex, 16);
  QVERIFY(hex);

  // Readable distribution points: no message, the URLs are only read.
  rec_->clear();
  TestCertSpec good{QStringLiteral("JOSE:31415926590")};
  good.cdpUrls = {QStringLiteral("http://127.0.0.1:9/lcr.crl")};
  rec_->certificates.enqueue(addToStore(good));
  answerKey(QDateTime::currentDateTime(), 'S', "AB12CD34");
  QVERIFY(cert.SelecionarCertificado(nullptr, empresa()));
  QVERIFY(rec_->messages.isEmpty());
}

void TstCertRoutine::creationWindowFillsItsBoxes() {
  const QByteArray der = addToStore({QStringLiteral("PADARIA:52601815000120")});
  auto* w = Forms::get<FrmCriaContribuinte>();
  w->txtIE()->setText(kIE);
  w->txtRazaoSocial()->setText("Padaria São José Ltda");
  w->txtCNPJ()->setText(kCnpj);
  w->txtCNAE()->setText(kCnae);
  w->chave()->setText("ANTIGA");

  // Cancelled: the boxes keep what they had.
  w->Command1_Click();
  QCOMPARE(w->chave()->text(), QStringLiteral("ANTIGA"));
  QVERIFY(!w->flagOptanteSimples()->isChecked());

  rec_->certificates.enqueue(der);
  answerKey(QDateTime::currentDateTime(), 'S', "AB12CD34");
  w->Command1_Click();
  QCOMPARE(w->chave()->text(), QStringLiteral("AB12CD34"));
  QVERIFY(w->flagOptanteSimples()->isChecked());

  rec_->certificates.enqueue(der);
  answerKey(QDateTime::currentDateTime(), 'N', "EF56GH78");
  w->Command1_Click();
  QCOMPARE(w->chave()->text(), QStringLiteral("EF56GH78"));
  QVERIFY(!w->flagOptanteSimples()->isChecked());

  // An expired answer leaves the boxes as they are.
  rec_->certificates.enqueue(der);
  answerKey(QDateTime::currentDateTime().addYears(3), 'S', "ZZZZZZZZ");
  w->Command1_Click();
  QCOMPARE(w->chave()->text(), QStringLiteral("EF56GH78"));
  QCOMPARE(rec_->lastText(), kExpired);
}

void TstCertRoutine::transmissionCopySetsAndClearsTheFlag() {
  TestCertSpec mine{QStringLiteral("JOSE D ASSUNCAO:31415926590")};
  const QByteArray accountant = addToStore(mine);
  const QDateTime validTo = QDateTime::fromSecsSinceEpoch(mine.notAfter.toSecsSinceEpoch(), Qt::UTC);
  const QByteArray company = addToStore({QStringLiteral("PADARIA:52601815000120")});

  CertificadoDigital cert(CopiaCertificado::Transmissao);
  cert.DadosContador();
  QCOMPARE(cert.docContador, QStringLiteral("31415926590"));

  rec_->certificates.enqueue(accountant);
  QVERIFY(cert.SelecionarCertificado(nullptr, validTo.toLocalTime()));  // equal to valid-to: still valid
  QVERIFY(cert.certificadoOk);
  QVERIFY(rec_->messages.isEmpty());
  QCOMPARE(rec_->certificateDialogs[0],
           QStringList({"Using CAPI to Select a certificate", "Select a certificate using CAPI"}));

  // The server's date one second past the end of validity.
  rec_->certificates.enqueue(accountant);
  QVERIFY(!cert.SelecionarCertificado(nullptr, validTo.addSecs(1)));
  QVERIFY(!cert.certificadoOk);
  QCOMPARE(rec_->messages.size(), 1);
  QCOMPARE(rec_->messages[0].text,
           QStringLiteral("O Certificado escolhido é inválido. Verifique a validade e se o mesmo confere com os dados "
                          "informados no cadastro do contador."));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(rec_->messages[0].title, kInvalidTitle);

  // The accountant's certificate that expired yesterday, against today's server date.
  TestCertSpec old{QStringLiteral("JOSE D ASSUNCAO ANTIGO:31415926590")};
  old.notBefore = QDateTime::currentDateTimeUtc().addYears(-1);
  old.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
  cert.certificadoOk = true;
  rec_->certificates.enqueue(addToStore(old));
  QVERIFY(!cert.SelecionarCertificado(nullptr, QDateTime::currentDateTime()));
  QVERIFY(!cert.certificadoOk);
  QCOMPARE(rec_->messages.size(), 2);
  QCOMPARE(rec_->messages[1].title, kInvalidTitle);

  // A company's certificate is not the accountant's, whatever its dates.
  cert.certificadoOk = true;
  rec_->certificates.enqueue(company);
  QVERIFY(!cert.SelecionarCertificado(nullptr, QDateTime::currentDateTime()));
  QVERIFY(!cert.certificadoOk);
  QCOMPARE(rec_->messages.size(), 3);

  // No server request in this copy.
  QVERIFY(server_->requests.isEmpty());
}

void TstCertRoutine::transmissionCopyWithoutAccountantAcceptsNothing() {
  // An empty accountant document would be found in any certificate.
  const QByteArray der = addToStore({QStringLiteral("QUALQUER:11444777000161")});
  CertificadoDigital cert(CopiaCertificado::Transmissao);
  {
    LocalDatabase::Connection db;
    db.exec("delete from tblContador");
  }
  cert.DadosContador();
  QVERIFY(cert.docContador.isEmpty());
  rec_->certificates.enqueue(der);
  QVERIFY(!cert.SelecionarCertificado(nullptr, QDateTime::currentDateTime()));
  QCOMPARE(rec_->messages.size(), 1);
  QCOMPARE(rec_->messages[0].title, kInvalidTitle);
}

QTEST_MAIN(TstCertRoutine)
#include "tst_certroutine.moc"
