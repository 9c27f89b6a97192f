#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <memory>

#include "gui/main/principal.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/registry/importarempresas.h"
#include "gui/transmission/frmupload.h"
#include "gui/transmission/frmuploadsimples.h"
#include "gui/widgets/forms.h"
#include "registry/importaccess.h"
#include "registry/localdb.h"
#include "support/cannedserver.h"
#include "support/formdriver.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testcerts.h"
#include "support/testenv.h"

// The NovaGIA import window on the sample export files, with the sandbox (or a scripted server) as peer.
namespace {
using FormDriver::settle;

const QString kInvalid =
    QStringLiteral("Erro: Arquivo inválido, você deve selecionar um arquivo conforme o manual indicar");
const QString kDone = QStringLiteral("Importação Concluída");

// The three companies of novagia_3empresas.mdb.
const QString kIe1 = QStringLiteral("0908301661392"), kCnpj1 = QStringLiteral("52.601.815/0001-20");
const QString kIe2 = QStringLiteral("0603082462862"), kCnpj2 = QStringLiteral("09.139.099/0001-81");
const QString kIe3 = QStringLiteral("0819093786577"), kCnpj3 = QStringLiteral("82.199.351/0001-38");
}  // namespace

class TstImport : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void readerGivesColumnsByPosition();
  void choosingTheFile();
  void loadingMarksInconsistentRows();
  void emptyAndInvalidFiles();
  void importAgainstTheSandbox();
  void failedCompaniesNamedInTheSummary();
  void expiredCertificateStopsAndKeepsWhatCameIn();
  void cancelledCertificateImportsNothing();
  void creationWindowOpensTheImport();

 private:
  ImportarEmpresas* windowWith(const QString& sampleFile);
  QList<QSqlRecord> stored();
  void useCertificate(const QDateTime& notAfter = QDateTime::currentDateTimeUtc().addYears(1));
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<QTemporaryDir> store_;
  std::unique_ptr<Recorder> rec_;
  TestCert cert_;
};

void TstImport::init() {
  app_ = std::make_unique<TestAppFolder>();
  store_ = std::make_unique<QTemporaryDir>();
  qputenv("ZIDE_CERTIFICADOS", store_->path().toLocal8Bit());
  rec_ = std::make_unique<Recorder>();
}

void TstImport::cleanup() {
  Forms::unloadAll();
  settle();
  rec_.reset();
  qunsetenv("ZIDE_CERTIFICADOS");
  store_.reset();
  app_.reset();
}

ImportarEmpresas* TstImport::windowWith(const QString& sampleFile) {
  auto* w = Forms::get<ImportarEmpresas>();
  rec_->files.enqueue(sampleFile.isEmpty() ? QString() : testData("import/" + sampleFile));
  w->Command2_Click();
  return w;
}

QList<QSqlRecord> TstImport::stored() {
  LocalDatabase::Connection db;
  return db.query("select * from tblContribuinte order by IE");
}

// Any certificate serves the import: this one belongs to nobody in the file.
void TstImport::useCertificate(const QDateTime& notAfter) {
  TestCertSpec spec{QStringLiteral("ESCRITORIO CONTABIL:11444777000161")};
  spec.notAfter = notAfter;
  cert_ = MakeTestCert(spec);
  QFile f(store_->filePath("escritorio.cer"));
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(cert_.der);
  rec_->certificates.enqueue(cert_.der);
}

void TstImport::readerGivesColumnsByPosition() {
  const AccessTable t = ReadAccessTable(testData("import/novagia_3empresas.mdb"), "tblContribuinte");
  QCOMPARE(t.columns.mid(0, 4), QStringList({"IE", "RazaoSocial", "CNPJ", "CNAE"}));
  QCOMPARE(t.rows.size(), 3);
  QCOMPARE(t.rows[1][0], kIe2);
  QCOMPARE(t.rows[1][1], QStringLiteral("Comércio D'Ávila ME"));
  QCOMPARE(t.value(2, "cnae"), QStringLiteral("8628-9/58"));
  QCOMPARE(t.value(0, "Ativo"), QStringLiteral("1"));
  const QList<EmpresaNovaGIA> e = LerExportacaoNovaGIA(testData("import/novagia_inconsistente.mdb"));
  QCOMPARE(e.size(), 4);
  QCOMPARE(e[3].razaoSocial, QStringLiteral("    "));  // three blanks and the appended one
  QVERIFY(!e[0].inconsistente() && e[1].inconsistente() && !e[2].inconsistente() && e[3].inconsistente());
  QVERIFY_THROWS_EXCEPTION(AccessError, ReadAccessTable(testData("import/sem_tabela.mdb"), "tblContribuinte"));
  QVERIFY_THROWS_EXCEPTION(AccessError, ReadAccessTable(testData("import/nao_existe.mdb"), "tblContribuinte"));
}

void TstImport::choosingTheFile() {
  auto* w = Forms::get<ImportarEmpresas>();
  QCOMPARE(w->windowTitle(), QStringLiteral("Cadastro de Empresas - Através do Arquivo NovaGIA - Importação"));
  QCOMPARE(w->Text1()->text(), QStringLiteral("Selecione o arquivo a importar"));
  auto* load = w->findChild<QPushButton*>("Command3");
  QVERIFY(load && !load->isVisibleTo(w));
  w->Command2_Click();  // cancelled
  QCOMPARE(rec_->fileDialogs, QStringList{"Escolha o arquivo"});
  QVERIFY(!load->isVisibleTo(w));
  QCOMPARE(w->Text1()->text(), QStringLiteral("Selecione o arquivo a importar"));
  rec_->files.enqueue(testData("import/novagia_3empresas.mdb"));
  w->Command2_Click();
  QCOMPARE(w->Text1()->text(), testData("import/novagia_3empresas.mdb"));
  QVERIFY(load->isVisibleTo(w));
  QVERIFY(!w->MSFlexGrid1()->isVisibleTo(w));
  QVERIFY(!w->findChild<QPushButton*>("Command1")->isVisibleTo(w));
}

void TstImport::loadingMarksInconsistentRows() {
  ImportarEmpresas* w = windowWith("novagia_inconsistente.mdb");
  auto* import = w->findChild<QPushButton*>("Command1");
  auto* label1 = w->findChild<QLabel*>("Label1");
  auto* label2 = w->findChild<QLabel*>("Label2");
  w->Command3_Click();
  QVERIFY(rec_->messages.isEmpty());
  QTableWidget* g = w->MSFlexGrid1();
  QVERIFY(g->isVisibleTo(w));
  QCOMPARE(g->rowCount(), 4);
  QCOMPARE(g->columnCount(), 4);
  const QStringList headers = {"IE", "CNPJ", "CNAE", "Razão Social"};
  for (int c = 0; c < 4; ++c) QCOMPARE(g->horizontalHeaderItem(c)->text(), headers[c]);
  QCOMPARE(g->columnWidth(3), 5000 / 15);
  // An IE, CNPJ or CNAE is shown whole, and the described widths stay the minimum.
  const int minimum[] = {1500 / 15, 1800 / 15, 1200 / 15};
  for (int c = 0; c < 3; ++c) {
    QVERIFY(g->columnWidth(c) >= minimum[c]);
    for (int r = 0; r < g->rowCount(); ++r)
      QVERIFY(g->columnWidth(c) >= g->fontMetrics().horizontalAdvance(g->item(r, c)->text()));
  }
  QCOMPARE(g->item(0, 3)->text(), QStringLiteral("Oficina Mecânica Boa Vista Ltda "));
  QCOMPARE(g->item(1, 1)->text(), QStringLiteral("76.018.955/0001-39"));
  const QColor red(255, 0, 0);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) QCOMPARE(g->item(r, c)->foreground().color() == red, r == 1 || r == 3);
  QVERIFY(!import->isVisibleTo(w));
  QVERIFY(label1->isVisibleTo(w) && label2->isVisibleTo(w));
  QCOMPARE(label1->text(),
           QStringLiteral("Atenção, a importação não será concluída, existe inconsistência nos cadastros."));
  QCOMPARE(label2->text(), QStringLiteral("Para prosseguir, corrija as informações e tente novamente."));

  // Another, clean file loaded in the same window: the marks and the warning go away.
  rec_->files.enqueue(testData("import/novagia_3empresas.mdb"));
  w->Command2_Click();
  w->Command3_Click();
  QCOMPARE(g->rowCount(), 3);
  for (int r = 0; r < 3; ++r) QVERIFY(g->item(r, 0)->foreground().color() != red);
  QCOMPARE(g->item(1, 3)->text(), QStringLiteral("Comércio D'Ávila ME "));
  QCOMPARE(g->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
  QVERIFY(import->isVisibleTo(w));
  QVERIFY(!label1->isVisibleTo(w) && !label2->isVisibleTo(w));
}

void TstImport::emptyAndInvalidFiles() {
  ImportarEmpresas* w = windowWith("novagia_vazio.mdb");
  w->Command3_Click();
  QCOMPARE(rec_->texts(), QStringList{"Erro: Arquivo está vazio"});
  QCOMPARE(rec_->messages[0].title, QString());
  QVERIFY(!w->MSFlexGrid1()->isVisibleTo(w));

  // A loaded grid stays as it was when an empty file follows.
  w->Text1()->setText(testData("import/novagia_3empresas.mdb"));
  w->Command3_Click();
  w->Text1()->setText(testData("import/novagia_vazio.mdb"));
  w->Command3_Click();
  QCOMPARE(w->MSFlexGrid1()->rowCount(), 3);

  QTemporaryDir tmp;
  QFile text(tmp.filePath("texto.mdb"));
  QVERIFY(text.open(QIODevice::WriteOnly));
  text.write("isto não é um banco do Access\n");
  text.close();
  QFile whole(testData("import/novagia_3empresas.mdb"));
  QVERIFY(whole.open(QIODevice::ReadOnly));
  QFile cut(tmp.filePath("cortado.mdb"));
  QVERIFY(cut.open(QIODevice::WriteOnly));
  cut.write(whole.read(20000));
  cut.close();
  const QStringList bad = {testData("import/sem_tabela.mdb"), text.fileName(), cut.fileName(),
                           tmp.filePath("nao_existe.mdb"), tmp.path()};
  for (const QString& f : bad) {
    rec_->clear();
    w->Text1()->setText(f);
    w->Command3_Click();
    QCOMPARE(rec_->texts(), QStringList{kInvalid});
    QCOMPARE(rec_->messages[0].title, kMsgTitle);
    QCOMPARE(w->MSFlexGrid1()->rowCount(), 3);
  }
  // The import reads the named file again, and refuses it the same way before asking for a certificate.
  rec_->clear();
  w->Command1_Click();
  QCOMPARE(rec_->texts(), QStringList{kInvalid});
  QVERIFY(rec_->certificateDialogs.isEmpty());
}

void TstImport::importAgainstTheSandbox() {
  // Companies 1 and 2 are known to the municipality, company 3 is not; company 1 is already registered.
  SandboxServer server(
      {"--contribuinte", kIe1 + ":AB12CD34:" + kCnpj1, "--contribuinte", kIe2 + ":ZX98YW76:" + kCnpj2 + ":S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  {
    LocalDatabase::Connection db;
    db.exec("insert into tblContribuinte (IE, RazaoSocial, Cnpj, Cnae, Chave) values ('" + kIe1 +
            "', 'Padaria (já cadastrada)', '" + kCnpj1 + "', '2486-8/54', 'ANTIGA01')");
  }
  useCertificate();
  ImportarEmpresas* w = windowWith("novagia_3empresas.mdb");
  w->Command3_Click();
  QPointer<ImportarEmpresas> alive(w);
  w->Command1_Click();

  QCOMPARE(rec_->certificateDialogs.size(), 1);
  QCOMPARE(rec_->certificateDialogs[0][0], QStringLiteral("Selecione o Certificado Digital (e-CNPJ)"));
  QCOMPARE(rec_->messages.size(), 3);
  QCOMPARE(rec_->messages[0].text,
           "Empresa já cadastrada anteriormente: \r\n\r\nPadaria São José Ltda \r\n"
           "Inscrição Estadual: " +
               kIe1 + "\r\n\r\nA empresa não será cadastrada, para não gerar duplicidade");
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(rec_->messages[1].text,
           "Não é possível cadastrar a empresa: \r\n\r\nTransportes Irmãos Açaí S/A \r\nInscrição Estadual: " + kIe3 +
               "\r\n\r\nEmpresa não está cadastrada nos servidores da Prefeitura.\r\n"
               "Se a empresa pertencer ao Muncípio, por favor, nos informe imediatamente.");
  QCOMPARE(rec_->messages[1].title, kMsgTitle);
  const Recorder::Message done = rec_->messages[2];
  QVERIFY(done.text.startsWith(kDone + "\r\n\r\n"));
  QCOMPARE(done.icon, QMessageBox::Information);
  QCOMPARE(done.title, kMsgTitle);
  QVERIFY(done.text.contains("Padaria São José Ltda (Inscrição Estadual: " + kIe1 + "): já cadastrada"));
  QVERIFY(done.text.contains("Transportes Irmãos Açaí S/A (Inscrição Estadual: " + kIe3 + ")"));
  QVERIFY(!done.text.contains(kIe2));

  const QList<QSqlRecord> rows = stored();
  QCOMPARE(rows.size(), 2);
  QCOMPARE(rows[0].value("IE").toString(), kIe2);
  QCOMPARE(rows[0].value("RazaoSocial").toString(), QStringLiteral("Comércio D'Ávila ME "));
  QCOMPARE(rows[0].value("Cnpj").toString(), kCnpj2);
  QCOMPARE(rows[0].value("Cnae").toString(), QStringLiteral("2929-9/39"));
  QCOMPARE(rows[0].value("Chave").toString(), QStringLiteral("ZX98YW76"));
  QVERIFY(rows[0].value("CCM").isNull());
  // The key reply marks this company as Simples Nacional: stored as the table's yes.
  QCOMPARE(rows[0].value("OptanteSimples").toInt(), -1);
  QCOMPARE(rows[1].value("Chave").toString(), QStringLiteral("ANTIGA01"));  // the registered one untouched

  // One request per company, in file order.
  const auto requests = server.rows("select operacao from requisicao order by id");
  QCOMPARE(requests.size(), 3);
  for (const QVariantMap& r : requests) QCOMPARE(r.value("operacao").toString(), QStringLiteral("Transferencia.ecnpj"));
  settle();
  QVERIFY(alive.isNull());  // closed after the summary

  // Transmitting for the imported Simples company opens the Simples Nacional window.
  {
    LocalDatabase::Connection db;
    db.exec("insert into tblContador (cont_cpf_cnpj, cont_razao_nome) values ('123.456.789-09', 'Escritório')");
  }
  Principal* p = Forms::get<Principal>();
  p->setSelectedTaxpayer(kIe2, QStringLiteral("Comércio D'Ávila ME "), QStringLiteral("ZX98YW76"));
  p->Command1_Click();
  QVERIFY(Forms::find<FrmUploadSimples>());
  QVERIFY(!Forms::find<FrmUpload>());
}

void TstImport::failedCompaniesNamedInTheSummary() {
  CannedServer server;
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  const QDateTime now = QDateTime::currentDateTime();
  server.answer(CannedServer::envelope("Transferencia.ecnpj", KeyReturnText(now, 'N', "KEY00001")));
  server.answer(CannedServer::envelope("Transferencia.ecnpj", "ERRO INTERNO"));  // no date: not imported
  server.answer(CannedServer::envelope("Transferencia.ecnpj", KeyReturnText(now, 'N', "KEY00003")));
  {
    // The insert of company 3 fails, as a full disk would make it.
    LocalDatabase::Connection db;
    db.exec("create trigger falha before insert on tblContribuinte when new.IE = '" + kIe3 +
            "' begin select raise(abort, 'disco cheio'); end");
  }
  useCertificate();
  ImportarEmpresas* w = windowWith("novagia_3empresas.mdb");
  w->Command3_Click();
  w->Command1_Click();
  QCOMPARE(rec_->messages.size(), 1);
  const QString summary = rec_->messages[0].text;
  QVERIFY(summary.startsWith(kDone + "\r\n\r\nEmpresas não importadas:\r\n"));
  QVERIFY2(summary.contains("Comércio D'Ávila ME (Inscrição Estadual: " + kIe2 + "): resposta do servidor sem data"),
           qPrintable(summary));
  QVERIFY2(summary.contains("Transportes Irmãos Açaí S/A (Inscrição Estadual: " + kIe3 + "): disco cheio"),
           qPrintable(summary));
  QVERIFY(!summary.contains(kIe1));
  const QList<QSqlRecord> rows = stored();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("Chave").toString(), QStringLiteral("KEY00001"));

  // With no server at all every company is named, nothing is stored, and the import still ends.
  Forms::unloadAll();
  settle();
  {
    LocalDatabase::Connection db;
    db.exec("delete from tblContribuinte");
  }
  QTcpServer gone;
  QVERIFY(gone.listen(QHostAddress::LocalHost));
  const quint16 port = gone.serverPort();
  gone.close();
  app_->writeSettings("127.0.0.1", QString::number(port));
  rec_->clear();
  rec_->certificates.enqueue(cert_.der);
  w = windowWith("novagia_3empresas.mdb");
  w->Command1_Click();
  QCOMPARE(rec_->messages.size(), 1);
  QCOMPARE(rec_->messages[0].text.count("o servidor não respondeu"), 3);
  QVERIFY(stored().isEmpty());
}

void TstImport::expiredCertificateStopsAndKeepsWhatCameIn() {
  CannedServer server;
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  useCertificate(QDateTime::currentDateTimeUtc().addDays(30));
  const QDateTime validTo = QDateTime::fromSecsSinceEpoch(cert_.notAfter.toSecsSinceEpoch());
  server.answer(CannedServer::envelope("Transferencia.ecnpj", KeyReturnText(validTo, 'N', "KEY00001")));
  server.answer(CannedServer::envelope("Transferencia.ecnpj", KeyReturnText(validTo.addSecs(1), 'N', "KEY00002")));
  ImportarEmpresas* w = windowWith("novagia_3empresas.mdb");
  QPointer<ImportarEmpresas> alive(w);
  w->Command1_Click();
  QCOMPARE(rec_->texts(), QStringList{"Certificado expirado, contate seu fornecedor"});
  QCOMPARE(rec_->messages[0].title, kAppTitle);
  QCOMPARE(server.requests.size(), 2);  // the third company is not asked for
  const QList<QSqlRecord> rows = stored();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("IE").toString(), kIe1);
  settle();
  QVERIFY(!alive.isNull());
}

void TstImport::cancelledCertificateImportsNothing() {
  CannedServer server;
  app_->writeSettings("127.0.0.1", QString::number(server.port()));
  ImportarEmpresas* w = windowWith("novagia_3empresas.mdb");
  w->Command3_Click();
  w->Command1_Click();
  QCOMPARE(rec_->certificateDialogs.size(), 1);
  QVERIFY(rec_->messages.isEmpty());
  QVERIFY(server.requests.isEmpty());
  QVERIFY(stored().isEmpty());
  QVERIFY(Forms::find<ImportarEmpresas>());
}

void TstImport::creationWindowOpensTheImport() {
  auto* creation = Forms::get<FrmCriaContribuinte>();
  creation->show();
  creation->Command2_Click();
  ImportarEmpresas* w = Forms::find<ImportarEmpresas>();
  QVERIFY(w && w->isVisible());
  QVERIFY(!w->isModal());
  w->close();
  settle();
  QVERIFY(!Forms::find<ImportarEmpresas>());
  QCOMPARE(Forms::find<FrmCriaContribuinte>(), creation);
}

QTEST_MAIN(TstImport)
#include "tst_import.moc"
