// Delivering declarations through the windows, as an accountant does it, against the sandbox
// server: registration, the company with its key from the certificate, selection, the ZIDE and the
// Simples Nacional transmissions, the refusals and the faults of the network.
#include <QCheckBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QListWidget>
#include <QLockFile>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "gui/main/principal.h"
#include "gui/registry/frmcontador.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/registry/frmselecionacontribuinte.h"
#include "gui/transmission/frmupload.h"
#include "gui/transmission/frmuploadsimples.h"
#include "net/upload.h"
#include "registry/deliverystore.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "support/formdriver.h"
#include "support/intakesupport.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testcerts.h"
#include "support/testenv.h"
#include "transmission/intake.h"

using namespace FormDriver;

namespace {
const QString kIeZide = "0623079040081";
const QString kKeyZide = "DEMO1234";
const QString kCnpjZide = "11222333000181";
const QString kIeSimples = "0623079040162";
const QString kKeySimples = "SIMP5678";
const QString kCnpjSimples = "11444777000161";
const QString kAccountant = "52601815000120";
const QString kAccountantStored = "52.601.815/0001-20";
const QString kAno = "2025/2026";
// A second company of each regime, for the journeys where the selection changes.
const QString kIeZideB = "0623079040243";
const QString kKeyZideB = "ZIDEB456";
const QString kIeSimplesB = "0623079040324";
const QString kKeySimplesB = "SIMPB789";

const QString kUpward = "Somente serão aceitas GIAS de 2025/2026";
const QString kDownward =
    "Você deverá consultar a administração para saber quais documentos poderão ser aceitos. 2025/2026";
const QString kCertNotice = "O Certificado que será solicitado durante a transmissão é do contador responsável";
const QString kCloseZide = "Por favor, se o programa ZIDE-MG estiver aberto queira por gentileza fechá-lo.";
const QString kExtrato =
    "O arquivo que você enviou (Extrato) não é correto para esta operação, por favor, verifique o manual que está "
    "disponível no site.";
const QString kRecibo =
    "O arquivo que você enviou (Recibo) não é correto para esta operação, por favor, verifique o manual que está "
    "disponível no site.";
const QString kModificado =
    "O arquivo que você enviou foi modificado, você deverá fazer o download do arquivo original no site PGDAS. Se "
    "você decidir imprimir e salvar o resultado da impressão em PDF continuará dando erro, a maneira correta para "
    "isto é Salvar o arquivo.";

QByteArray pdf(const QByteArray& text) { return PgdasPdf(text); }

QString sha1(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex());
}

QTableWidget* table(QWidget* w, const char* name) { return child<QTableWidget>(w, name); }

// The keys (hidden column 0) of the listed references.
QStringList keysListed(QTableWidget* g) {
  QStringList out;
  for (int r = 1; r < g->rowCount(); ++r) out << (g->item(r, 0) ? g->item(r, 0)->text() : QString());
  return out;
}

// Centre of a grid row on its viewport, where a real click lands.
QPoint rowCentre(QTableWidget* g, int row) { return g->visualItemRect(g->item(row, 1)).center(); }

// The verdict after a delivery the list confirms: "MM/aaaa=protocolo" per reference sent.
QString summary(const QStringList& confirmed, const QStringList& refused = {}) {
  QStringList lines;
  for (const QString& c : confirmed) lines << c.section('=', 0, 0) + ": registrada, protocolo " + c.section('=', 1);
  QString text = "A prefeitura registrou a declaração.\r\n\r\n" + lines.join("\r\n");
  if (!refused.isEmpty())
    text +=
        "\r\n\r\nNão enviadas, por serem de ano que a prefeitura não aceita agora (2025/2026): " + refused.join(", ") +
        ".";
  return text;
}

// "MM/aaaa=protocolo" of the server's last n transmissions, oldest first.
QStringList lastRecorded(const SandboxServer& s, int n) {
  QStringList out;
  for (const auto& r :
       s.rows("SELECT referencia, protocolo FROM transmissao ORDER BY id DESC LIMIT " + QString::number(n)))
    out.prepend(r.value("referencia").toString() + "=" + r.value("protocolo").toString());
  return out;
}

// The verdict's line for each month sent ("" for the Simples Nacional), from what the server recorded.
QString verdictLines(const QStringList& months, const QStringList& recorded) {
  QStringList lines;
  for (const QString& m : months) {
    const QString name = m.isEmpty() ? QString("Declaração") : m;
    QString line = name + ": não consta na lista do servidor";
    for (const QString& r : recorded)
      if (m.isEmpty() || r.section('=', 0, 0) == m) line = name + ": registrada, protocolo " + r.section('=', 1);
    lines << line;
  }
  return lines.join("\r\n");
}

// The journal's newest row.
DeliveryStore::Delivery lastJournalRow() {
  LocalDatabase::Connection db;
  const auto rows = DeliveryStore::list(db);
  return rows.isEmpty() ? DeliveryStore::Delivery{} : rows.first();
}

const QString kRefusedStart = "A prefeitura recusou a declaração. O servidor respondeu:\r\n\r\n\"";
const QString kRefusedEnd = "\r\n\r\nCorrija o que o servidor apontou e envie de novo.";
const QString k500 = "500 Internal Server Error\nErro interno do servidor.";

const QString kNotDeliveredStart = "A declaração pode não ter chegado à prefeitura: ";
const QString kNotDeliveredEnd =
    ".\r\n\r\nA lista de transmissões da janela principal foi atualizada para conferir. Veja se a declaração "
    "aparece nela antes de enviar de novo.\r\n\r\n";

// The texts of one column of the main window's list (row 0 is the header).
QStringList listed(Principal* p, int column) {
  QStringList out;
  QTableWidget* g = table(p, "GridTransmissoes");
  for (int r = 1; r < g->rowCount(); ++r) out << (g->item(r, column) ? g->item(r, column)->text() : QString());
  return out;
}

// With ZIDE_SCREENSHOTS set, windows are saved as the user sees them at that moment (docs/img).
void snap(QWidget* w, const QString& name) {
  const QString dir = qEnvironmentVariable("ZIDE_SCREENSHOTS");
  if (dir.isEmpty()) return;
  QCoreApplication::processEvents();
  w->grab().save(QDir(dir).filePath(name + ".png"));
}

// The message as the user sees it, beside the window's own picture.
void snapMessage(const Recorder::Message& m, const QString& name) {
  if (qEnvironmentVariable("ZIDE_SCREENSHOTS").isEmpty()) return;
  QMessageBox box(m.icon, m.title, m.text, m.buttons);
  box.show();
  snap(&box, name);
}

// On a real display (Xvfb with a window manager) and with ZIDE_SCREENSHOTS set, a message the
// program gave is shown again through the program's own message box, over the window it belongs
// to, and the screen around both is saved while it is up.
void snapOnScreen(QWidget* over, const Recorder::Message& m, const QString& name, Recorder* rec) {
  const QString dir = qEnvironmentVariable("ZIDE_SCREENSHOTS");
  if (dir.isEmpty() || QGuiApplication::platformName() != "xcb") return;
  QTimer::singleShot(1500, qApp, [=] {
    QWidget* box = QApplication::activeModalWidget();
    if (!box) return;
    const QRect area = over->window()->frameGeometry().united(box->frameGeometry()).adjusted(-8, -8, 8, 8);
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(QDir(dir).filePath(name + ".png"));
    box->close();
  });
  Interaction::install(nullptr);
  MsgBox(over, m.text, m.icon, m.title, m.buttons);
  Interaction::install(rec);
}

// A loopback port nobody listens on, in the range the upload once accepted (up to 32767).
quint16 closedPort() {
  for (quint16 port = 20000 + quint16(QRandomGenerator::global()->bounded(12000));; ++port) {
    QTcpServer s;
    if (s.listen(QHostAddress::LocalHost, port)) return port;
  }
}

}  // namespace

class TstTransmit : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void referenceWalk_data();
  void referenceWalk();
  void summaryAndMonthsAlreadySent();
  void zideDeclarationEndToEnd();
  void zideSelectionRules();
  void zideFaults();
  void simplesDeclarationEndToEnd();
  void simplesRefusals_data();
  void simplesRefusals();
  void markerInASecondDataEvent();
  void simplesFaults();
  void simplesFileChoice();
  void simplesPauseKeepsTheProgramAlive();

  void gridByRealInput_data();
  void gridByRealInput();
  void zideCompanyChange();
  void simplesCompanyChange();
  void zideAnswerFaults_data();
  void zideAnswerFaults();
  void zideVerdicts_data();
  void zideVerdicts();
  void simplesAnswerFaults_data();
  void simplesAnswerFaults();
  void busyButtonAndCloseDuringSend();
  void noSendWithoutAccountantOrKey();
  void sameFileAgainAndFolders();
  void closingTheMainWindowClosesTheOthers();
  void closingDuringAPreparation_data();
  void closingDuringAPreparation();
  void startingOverLeftovers_data();
  void startingOverLeftovers();

 private:
  // One more company stored, and a company chosen as the selection window does.
  void storeCompany(const QString& ie, const QString& key, bool simples);
  void choose(const QString& ie, const QString& key);
  // The accountant, the certificate and the company, through the windows; then the company selected.
  void registerAccountant();
  void createCompany(const QString& ie, const QString& razao, const QString& cnpj, const QString& expectedKey,
                     bool expectedSimples);
  void selectCompany(const QString& ie);
  // Stored directly, for the cases about one window.
  void storeAccountantAndCompany(const QString& ie, const QString& key, bool simples);
  template <class W>
  W* openTransmission();
  // The declaration taken in by the ZIDE window; false when its references were not listed.
  bool takeIn(FrmUpload* f);
  // "&Enviar" pressed by a click, or by `how` (keys).
  bool press(TransmissionWindow* f, bool withCertificate = true, const std::function<void()>& how = {});
  QString folderWith(const QString& name, const QByteArray& bytes);

  FirebirdLock lock_;
  QTemporaryDir shared_;
  QString gdb_;
  TestCert accountantCert_;
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<QTemporaryDir> store_;
  std::unique_ptr<Recorder> rec_;
  std::unique_ptr<SandboxServer> server_;
  Principal* p_ = nullptr;
};

void TstTransmit::initTestCase() {
  // Four monthly references from 11/2024: the first two of a year the server does not take.
  gdb_ = shared_.filePath("ZIDE.GDB");
  QVERIFY(makeDeclaration(gdb_, {"--company", kIeZide + "," + kCnpjZide + ",Empresa Demonstração", "--references", "4",
                                 "--first", "2024-11", "--rows-each", "2"}));
  accountantCert_ = MakeTestCert({"ESCRITORIO CONTABIL TESTE:" + kAccountant});
}

void TstTransmit::init() {
  app_ = std::make_unique<TestAppFolder>();
  app_->write("info.dip", "1.15.01");
  store_ = std::make_unique<QTemporaryDir>();
  qputenv("ZIDE_CERTIFICADOS", store_->path().toLocal8Bit());
  QFile cert(store_->filePath("contador.pem"));
  QVERIFY(cert.open(QIODevice::WriteOnly));
  cert.write(accountantCert_.certPem);
  cert.close();
  rec_ = std::make_unique<Recorder>();
  server_ = std::make_unique<SandboxServer>(
      QStringList{"--contribuinte", kIeZide + ":" + kKeyZide + ":" + kCnpjZide, "--contribuinte",
                  kIeSimples + ":" + kKeySimples + ":" + kCnpjSimples + ":S", "--contribuinte",
                  kIeZideB + ":" + kKeyZideB + ":" + kCnpjZide, "--contribuinte",
                  kIeSimplesB + ":" + kKeySimplesB + ":" + kCnpjSimples + ":S", "--ano-trabalho", kAno});
  QVERIFY2(server_->isRunning(), qPrintable(server_->log()));
  app_->writeSettings("127.0.0.1", QString::number(server_->port()));
  p_ = Forms::get<Principal>();
  p_->show();
}

void TstTransmit::cleanup() {
  Forms::unloadAll();
  settle();
  server_.reset();
  rec_.reset();
  store_.reset();
  app_.reset();
}

void TstTransmit::registerAccountant() {
  auto* hint = child<QLabel>(p_, "lblOrientacao");
  QCOMPARE(hint->text(), QString("Cadastre o contador: Contribuinte › Contador (F6)"));
  FrmContador* f = Forms::get<FrmContador>();
  f->show();
  // Typing goes straight into the first field.
  QVERIFY(QTest::qWaitForWindowActive(f));
  QCOMPARE(QApplication::focusWidget(), child<QWidget>(f, "txtCNPJCPF"));
  fillAccountant(f, true, kAccountant, "Escritório Contábil Teste", "contato@escritorio.com.br");
  click(f, "btnOK");
  QCOMPARE(rec_->lastText(), QString("Contador cadastrado com sucesso"));
  settle();
  QCOMPARE(hint->text(), QString("Cadastre uma empresa: Contribuinte › Novo (F2)"));
}

void TstTransmit::createCompany(const QString& ie, const QString& razao, const QString& cnpj,
                                const QString& expectedKey, bool expectedSimples) {
  p_->mnContribuinteNovo_Click();
  auto* f = Forms::find<FrmCriaContribuinte>();
  QVERIFY(f);
  type(f, "txtIE", ie);
  type(f, "txtRazaoSocial", razao);
  type(f, "txtCNPJ", cnpj);
  type(f, "txtCNAE", "4711302");
  type(f, "txtInscMunicipal", "77");
  // The key comes from the server, asked with the accountant's certificate.
  rec_->certificates.enqueue(accountantCert_.der);
  click(f, "Command1");
  QCOMPARE(shown(f, "Chave"), expectedKey);
  QCOMPARE(child<QCheckBox>(f, "flag_optantesimples")->isChecked(), expectedSimples);
  click(f, "cmdOK");
  QCOMPARE(rec_->lastText(), QString("O contribuinte foi criado!"));
  settle();
}

void TstTransmit::selectCompany(const QString& ie) {
  auto* sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  QTableWidget* g = table(sel, "GridSelContribuinte");
  int row = -1;
  for (int r = 0; r < g->rowCount(); ++r)
    for (int c = 0; c < g->columnCount(); ++c)
      if (g->item(r, c) && g->item(r, c)->text().remove(QRegularExpression("\\D")) == ie) row = r;
  QVERIFY2(row >= 0, "the company is not listed");
  g->setCurrentCell(row, 1);
  click(sel, "cmdOK");
  settle();
  QCOMPARE(p_->selectedIE(), ie);
  QCOMPARE(Session::current().workingYear(), kAno);
}

void TstTransmit::storeAccountantAndCompany(const QString& ie, const QString& key, bool simples) {
  LocalDatabase::Connection db;
  db.exec("Insert into tblContador (cont_cpf_cnpj, cont_num_crc, cont_razao_nome) values (?, '1', 'Escritório')",
          {kAccountantStored});
  db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values (?,?,?,?,?,?,?)",
          {ie, "Empresa", simples ? kCnpjSimples : kCnpjZide, "4711-3/02", key, "77", simples ? -1 : 0});
  p_->setSelectedTaxpayer(ie, "Empresa", key);
  p_->RecebeDadosServer();
  QCOMPARE(Session::current().workingYear(), kAno);
}

void TstTransmit::storeCompany(const QString& ie, const QString& key, bool simples) {
  LocalDatabase::Connection db;
  db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values (?,?,?,?,?,?,?)",
          {ie, "Empresa " + ie.right(4), simples ? kCnpjSimples : kCnpjZide, "4711-3/02", key, "77", simples ? -1 : 0});
}

void TstTransmit::choose(const QString& ie, const QString& key) {
  p_->setSelectedTaxpayer(ie, "Empresa " + ie.right(4), key);
  p_->RecebeDadosServer();
}

template <class W>
W* TstTransmit::openTransmission() {
  p_->Command1_Click();
  W* w = Forms::find<W>();
  if (w) w->show();
  return w;
}

QString TstTransmit::folderWith(const QString& name, const QByteArray& bytes) {
  static int n = 0;
  const QString folder = app_->file(QString("arquivos%1").arg(++n));
  QDir().mkpath(folder);
  QFile f(folder + "/" + name);
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
  return folder;
}

bool TstTransmit::takeIn(FrmUpload* f) {
  static int n = 0;
  const QString folder = app_->file(QString("declaracao%1").arg(++n));
  QDir().mkpath(folder);
  if (!QFile::copy(gdb_, folder + "/ZIDE.GDB")) return false;
  f->setFolder(folder);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  if (!f->chooseFile("ZIDE.GDB")) return false;
  if (!done.count() && !done.wait(120000)) return false;
  return table(f, "GridRefencias")->rowCount() == 5;
}

bool TstTransmit::press(TransmissionWindow* f, bool withCertificate, const std::function<void()>& how) {
  if (withCertificate) rec_->certificates.enqueue(accountantCert_.der);
  QPointer<TransmissionWindow> w(f);
  QSignalSpy finished(f, &TransmissionWindow::uploadFinished);
  if (how) how();
  else click(f, "cmdUpload");
  if (!w) return true;
  // Nothing sent: the press ended at once.
  if (f->uploader()->state() == Uploader::State::Idle && finished.isEmpty()) return false;
  return finished.count() > 0 || finished.wait(30000);
}

void TstTransmit::referenceWalk_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QStringList>("texts");
  QTest::addColumn<bool>("downwards");
  QTest::addColumn<QString>("ano");
  QTest::addColumn<bool>("shownBefore");
  QTest::addColumn<QStringList>("gias");
  QTest::addColumn<QString>("message");
  const QStringList mixed{"01/12/2024 a 31/12/2024", "01/01/2025 a 31/01/2025 ", "01/01/2026 a 31/01/2026"};
  QTest::newRow("down, one refused") << mixed << true << kAno << false << QStringList{"2", "3"} << kDownward;
  QTest::newRow("up, one refused") << mixed << false << kAno << false << QStringList{"2", "3"} << kUpward;
  QTest::newRow("already shown") << mixed << true << kAno << true << QStringList{"2", "3"} << QString();
  QTest::newRow("all accepted") << mixed.mid(1) << true << kAno << false << QStringList{"1", "2"} << QString();
  // Without a working year from the server nothing is accepted.
  QTest::newRow("no working year") << mixed << true << QString() << false << QStringList()
                                   << "Você deverá consultar a administração para saber quais documentos poderão "
                                      "ser aceitos. ";
  // A row without a period names no year.
  QTest::newRow("empty row") << QStringList{"", "  "} << false << kAno << false << QStringList()
                             << kUpward;
  // clang-format on
}

// Which selected rows go, and which message is due.
void TstTransmit::referenceWalk() {
  QFETCH(QStringList, texts);
  QFETCH(bool, downwards);
  QFETCH(QString, ano);
  QFETCH(bool, shownBefore);
  QFETCH(QStringList, gias);
  QFETCH(QString, message);
  QList<ReferenceRow> rows;
  for (int i = 0; i < texts.size(); ++i) rows.append({QString::number(i + 1), texts[i]});
  bool shown = shownBefore;
  const ReferenceWalk walk = WalkReferences(rows, downwards, ano, &shown);
  QCOMPARE(walk.gias, gias);
  QCOMPARE(walk.message, message);
  QCOMPARE(shown, shownBefore || !message.isEmpty());
}

// What the user is told after a send, and which rows count as already in the list.
void TstTransmit::summaryAndMonthsAlreadySent() {
  const QList<ReferenceRow> rows{{"1", "01/12/2024  a 31/12/2024 "},
                                 {"2", "01/01/2025 a 31/01/2025"},
                                 {"3", "01/02/2025 a 28/02/2025"},
                                 {"4", "sem data"}};
  QCOMPARE(ReferenceMonth(rows[0].text), QString("12/2024"));
  QCOMPARE(ReferenceMonth(rows[3].text), QString("sem data"));
  bool shown = false;
  const ReferenceWalk walk = WalkReferences(rows, true, kAno, &shown);
  QCOMPARE(walk.accepted.size(), 2);
  QCOMPARE(walk.refused.size(), 2);
  // The list writes months with or without blanks; only accepted rows are asked about.
  const QList<ReferenceRow> again = AlreadyTransmitted(walk.accepted, {"12/2024", "02 / 2025", "03/2025"});
  QCOMPARE(again.size(), 1);
  QCOMPARE(again[0].key, QString("3"));
  QCOMPARE(LeftOutSummary(walk.refused, again, kAno),
           QString("Não enviadas, por serem de ano que a prefeitura não aceita agora (2025/2026): 12/2024, sem "
                   "data.\r\nNão enviadas de novo, por já constarem na lista de transmissões: 02/2025."));
  QCOMPARE(LeftOutSummary({}, {}, kAno), QString());
}

// The whole journey of a ZIDE declaration, twice: the selection made upwards, then downwards.
void TstTransmit::zideDeclarationEndToEnd() {
  registerAccountant();
  createCompany(kIeZide, "Empresa Demonstração", kCnpjZide, kKeyZide, false);
  selectCompany(kIeZide);
  QCOMPARE(listed(p_, 2), QStringList());

  for (const bool upwards : {true, false}) {
    rec_->clear();
    FrmUpload* f = openTransmission<FrmUpload>();
    QVERIFY(f);
    QCOMPARE(rec_->texts(), QStringList{kCertNotice});
    QVERIFY(takeIn(f));
    // Rows 2 to 4: 12/2024 (not accepted), 01/2025 and 02/2025.
    if (upwards) f->selectReferences(4, 2);
    else f->selectReferences(2, 4);
    rec_->clear();
    // The second time both months are in the list already: the user confirms sending them again.
    if (!upwards) rec_->answers << QMessageBox::Ok << QMessageBox::Yes;
    QPointer<FrmUpload> alive(f);
    rec_->onMessage = [&](const Recorder::Message& m) {
      if (upwards && m.text.startsWith("A prefeitura registrou")) snapOnScreen(f, m, "envio-resumo", rec_.get());
    };
    QVERIFY(press(f));
    rec_->onMessage = nullptr;
    QStringList expected{upwards ? kUpward : kDownward};
    if (!upwards)
      expected << "As referências 01/2025, 02/2025 já constam na lista de transmissões.\r\n\r\nDeseja enviá-las "
                  "novamente?";
    expected << summary(lastRecorded(*server_, 2), {"12/2024"});
    QCOMPARE(rec_->texts(), expected);
    QCOMPARE(rec_->messages[0].title, QString("ZIDE"));
    settle();
    QVERIFY(!alive);  // unloaded after the answer
    QVERIFY(p_->isEnabled());
  }

  // The server heard the accountant, the key and the two accepted references, and got zide.mdb
  // under the declaration's name.
  const auto asked = server_->rows("SELECT caminho FROM requisicao WHERE caminho LIKE '/client_zide/%'");
  QCOMPARE(asked.size(), 2);
  for (const auto& r : asked)
    QCOMPARE(r.value("caminho").toString(),
             "/client_zide/xt_upload.php?contador=" + kAccountantStored + "&chave=" + kKeyZide + "&gias=3,4");
  const auto sent = server_->rows("SELECT gia, arquivo, sha1, referencia, tipo FROM transmissao ORDER BY id");
  QCOMPARE(sent.size(), 4);
  // Each press wrote its own copy of the company's part of zide.mdb (the header keeps the time it
  // was made): the second upload's is the one still in the folder.
  const QString zideDb = sha1(app_->file("zide_envio.mdb"));
  QVERIFY(!zideDb.isEmpty());
  // The server read Access databases holding the whole declaration: every table, with its rows
  // (one company block, four references, two rows in each other table).
  const auto counts = server_->rows("SELECT sha1, tabela, linhas FROM arquivo_tabela");
  QCOMPARE(counts.size(), 2 * Intake::tables().size());
  for (const auto& c : counts) {
    const QString t = c.value("tabela").toString();
    QVERIFY2(Intake::tables().contains(t), qPrintable(t));
    QCOMPARE(c.value("linhas").toInt(), t == "TAB03002" ? 1 : t == "TAB03003" ? 4 : 2);
  }
  QStringList gias, refs;
  for (const auto& r : sent) {
    gias << r.value("gia").toString();
    refs << r.value("referencia").toString();
    QCOMPARE(r.value("arquivo").toString(), QString("ZIDE.GDB"));
    QCOMPARE(r.value("tipo").toString(), QString("ZIDE"));
  }
  QCOMPARE(gias, QStringList({"3", "4", "3", "4"}));
  QCOMPARE(sent[0].value("sha1"), sent[1].value("sha1"));
  QCOMPARE(sent[2].value("sha1").toString(), zideDb);
  QCOMPARE(sent[3].value("sha1").toString(), zideDb);
  QCOMPARE(refs, QStringList({"01/2025", "02/2025", "01/2025", "02/2025"}));

  // The main window lists them, and each opens its receipt.
  QCOMPARE(listed(p_, 0), refs);
  snap(p_, "principal-transmissoes");
  const auto protocols = server_->rows("SELECT protocolo FROM transmissao ORDER BY id");
  QCOMPARE(listed(p_, 2).size(), 4);
  QCOMPARE(listed(p_, 2)[3], protocols[3].value("protocolo").toString());
  table(p_, "GridTransmissoes")->setCurrentCell(1, 0);
  p_->cmd_Impressao_Click();
  QCOMPARE(rec_->openedUrls.size(), 1);
  QCOMPARE(rec_->openedUrls[0].toString(),
           QString("http://127.0.0.1/protocoloDown.php?IE=%1&key=%2&ref=01/2025").arg(kIeZide, kKeyZide));
}

// The year message once per load; a selection with nothing accepted sends nothing; a one-row
// selection is an upward one; without a choice the first reference alone is taken.
void TstTransmit::zideSelectionRules() {
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  const int requests = server_->rows("SELECT id FROM requisicao").size();

  // The first reference, current from the listing, is of 2024.
  rec_->clear();
  QVERIFY(!press(f));
  QCOMPARE(rec_->texts(), QStringList{kUpward});
  QCOMPARE(f->giaCerta, qint16(0));
  QVERIFY(f->msgTrabalho);
  // Downwards over both refused rows: no second message, nothing sent.
  f->selectReferences(1, 2);
  rec_->clear();
  QVERIFY(!press(f));
  QVERIFY(rec_->messages.isEmpty());
  QCOMPARE(server_->rows("SELECT id FROM requisicao").size(), requests);
  QVERIFY(child<QLineEdit>(f, "txtUrl")->text().isEmpty());

  // A fresh load shows the message again; a one-row selection of a refused row reads as upwards.
  f->close();
  settle();
  f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  QVERIFY(!f->msgTrabalho);
  f->selectReferences(2, 2);
  rec_->clear();
  QVERIFY(!press(f));
  QCOMPARE(rec_->texts(), QStringList{kUpward});
  // Without a certificate nothing happens at all, not even the checks.
  f->selectReferences(3, 3);
  rec_->clear();
  f->certificadoOk = false;
  QVERIFY(!press(f, false));
  QVERIFY(rec_->messages.isEmpty());
  QCOMPARE(rec_->certificateDialogs.size(), 1);
  QCOMPARE(server_->rows("SELECT id FROM requisicao").size(), requests);
}

// Each fault of the way to the server, on one loaded window: it stays open with its references,
// and the press after the last fault delivers.
void TstTransmit::zideFaults() {
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f);
  rec_->clear();
  // Nothing chosen yet (the button stays disabled; the handler is reached all the same).
  rec_->certificates.enqueue(accountantCert_.der);
  f->cmdUpload_Click();
  QCOMPARE(rec_->texts(), QStringList{"No File Chosen"});
  QCOMPARE(rec_->messages[0].title, QString("ERROR"));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QVERIFY(takeIn(f));
  f->selectReferences(3, 4);
  auto check = [&](const QString& text, QMessageBox::Icon icon) {
    QCOMPARE(rec_->messages.size(), 1);
    QCOMPARE(rec_->messages[0].title, QString("ERROR"));
    QCOMPARE(rec_->messages[0].icon, icon);
    if (!text.isEmpty()) QCOMPARE(rec_->messages[0].text, text);
    QVERIFY(f->isVisible());
    QVERIFY(!f->conectado);
    QCOMPARE(table(f, "GridRefencias")->rowCount(), 5);
    QVERIFY(child<QPushButton>(f, "cmdUpload")->isEnabled());
  };

  // An empty host: nothing leaves the machine.
  app_->writeSettings("", QString::number(server_->port()));
  rec_->clear();
  QVERIFY(!press(f));
  check("Invalid Host", QMessageBox::Critical);
  QCOMPARE(child<QLineEdit>(f, "txtUrl")->text(),
           QString("http://:%1 /client_zide/xt_upload.php?contador=%2&chave=%3&gias=3,4")
               .arg(server_->port())
               .arg(kAccountantStored, kKeyZide));

  // A port the request machinery cannot hold. From here on the certificate choice is cancelled:
  // the one accepted before still counts.
  app_->writeSettings("127.0.0.1", "65536");
  rec_->clear();
  QVERIFY(!press(f, false));
  check("Invalid Port", QMessageBox::Critical);

  // A port nobody listens on.
  app_->writeSettings("127.0.0.1", QString::number(closedPort()));
  rec_->clear();
  press(f, false);
  check("Connection is forcefully rejected", QMessageBox::Warning);

  // A server that drops the connection in the middle of the request.
  SandboxServer dropping(
      {"--falha", "fechar-no-envio:upload", "--contribuinte", kIeZide + ":" + kKeyZide + ":" + kCnpjZide});
  QVERIFY2(dropping.isRunning(), qPrintable(dropping.log()));
  app_->writeSettings("127.0.0.1", QString::number(dropping.port()));
  rec_->clear();
  press(f, false);
  // Whether the socket had handed the whole request over before the reset decides which message.
  if (rec_->lastText().startsWith(kNotDeliveredStart)) {
    QCOMPARE(rec_->messages.size(), 1);
    QVERIFY(f->isVisible() && child<QPushButton>(f, "cmdUpload")->isEnabled());
  } else {
    check(QString(), QMessageBox::Warning);
    QVERIFY2(rec_->lastText().startsWith("Connection"), qPrintable(rec_->lastText()));
  }
  QVERIFY(dropping.rows("SELECT id FROM transmissao").isEmpty());

  // A server that takes the request and never answers: the wait ends at the idle limit.
  SandboxServer silent({"--falha", "silencio:upload", "--contribuinte", kIeZide + ":" + kKeyZide + ":" + kCnpjZide});
  QVERIFY2(silent.isRunning(), qPrintable(silent.log()));
  app_->writeSettings("127.0.0.1", QString::number(silent.port()));
  f->uploader()->setIdleTimeoutMs(1500);
  rec_->clear();
  press(f, false);
  QCOMPARE(rec_->texts(), QStringList{kNotDeliveredStart + "o servidor não respondeu" + kNotDeliveredEnd +
                                      verdictLines({"01/2025", "02/2025"}, {})});
  QVERIFY(f->isVisible() && child<QPushButton>(f, "cmdUpload")->isEnabled());
  QCOMPARE(child<QLabel>(f, "lblSendSpeed")->text(), kSendCompleteText);

  // zide.mdb gone: nothing is sent, a message says why.
  QVERIFY(QFile::remove(app_->file("zide.mdb")));
  app_->writeSettings("127.0.0.1", QString::number(server_->port()));
  rec_->clear();
  QVERIFY(!press(f, false));
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().contains("não pôde ser lido"), qPrintable(rec_->lastText()));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QVERIFY(server_->rows("SELECT id FROM transmissao").isEmpty());

  // The declaration chosen again: the press delivers.
  QVERIFY(takeIn(f));
  f->selectReferences(3, 4);
  rec_->clear();
  QPointer<FrmUpload> alive(f);
  // The program's own wait for the answer: the sandbox reads the file with mdbtools first.
  f->uploader()->setIdleTimeoutMs(60000);
  QVERIFY(press(f, false));
  settle();
  QVERIFY2(!alive, qPrintable(rec_->texts().join(" | ")));
  const auto sent = server_->rows("SELECT gia, status FROM transmissao ORDER BY id");
  QCOMPARE(sent.size(), 2);
  QCOMPARE(sent[0].value("status").toInt(), 1);
  QCOMPARE(listed(p_, 0).size(), 2);
}

void TstTransmit::simplesDeclarationEndToEnd() {
  registerAccountant();
  createCompany(kIeSimples, "Padaria Simples", kCnpjSimples, kKeySimples, true);
  selectCompany(kIeSimples);
  rec_->clear();
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  QVERIFY(!Forms::find<FrmUpload>());
  QCOMPARE(rec_->texts(), QStringList{kCertNotice});
  w->setPauses({5, 5, 20});
  const QByteArray bytes = pdf("Declaracao Simples Nacional - periodo de apuracao 10/2026");
  w->setFolder(folderWith("DeclaracaoDASN-2026.pdf", bytes));
  QVERIFY(w->chooseFile("DeclaracaoDASN-2026.pdf"));
  QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
  snap(w, "frmuploadsimples");
  connect(w, &TransmissionWindow::uploadFinished, w, [w](bool delivered) {
    if (delivered) snap(w, "frmuploadsimples-enviado");
  });
  QPointer<FrmUploadSimples> alive(w);
  rec_->clear();
  QVERIFY(press(w));
  QCOMPARE(rec_->texts(), QStringList{summary({"Declaração=" + lastRecorded(*server_, 1).value(0).section('=', 1)})});
  settle();
  QVERIFY(!alive);
  const DeliveryStore::Delivery row = lastJournalRow();
  QCOMPARE(row.veredito, QString("registrado"));
  QCOMPARE(row.tipo, QString("SIMPLES"));
  QCOMPARE(row.sha256, QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
  QCOMPARE(row.tamanho, bytes.size());

  const auto asked = server_->rows("SELECT caminho FROM requisicao WHERE caminho LIKE '/client/%'");
  QCOMPARE(asked.size(), 1);
  QCOMPARE(asked[0].value("caminho").toString(),
           "/client/xt_upload_simples.php?contador=" + kAccountantStored + "&chave=" + kKeySimples + "&gias=");
  const auto sent = server_->rows("SELECT arquivo, sha1, referencia, tipo FROM transmissao");
  QCOMPARE(sent.size(), 1);
  QCOMPARE(sent[0].value("arquivo").toString(), QString("DeclaracaoDASN-2026.pdf"));
  QCOMPARE(sent[0].value("sha1").toString(),
           QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex()));
  QCOMPARE(sent[0].value("tipo").toString(), QString("SIMPLES"));
  QCOMPARE(listed(p_, 0), QStringList{"10/2026"});
  table(p_, "GridTransmissoes")->setCurrentCell(1, 0);
  p_->cmd_Impressao_Click();
  QCOMPARE(rec_->openedUrls.value(0).toString(),
           QString("http://127.0.0.1/protocoloDown.php?IE=%1&key=%2&ref=10/2026").arg(kIeSimples, kKeySimples));

  // The same period again goes only when the user says so; Enter ("Não") sends nothing.
  const QString again = "A referência 10/2026 já consta na lista de transmissões.\r\n\r\nDeseja enviá-la novamente?";
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    w = openTransmission<FrmUploadSimples>();
    w->setPauses({5, 5, 20});
    QVERIFY(w->chooseFile("DeclaracaoDASN-2026.pdf"));
    rec_->clear();
    if (answer == QMessageBox::Yes) rec_->answers.enqueue(answer);
    QCOMPARE(press(w), answer == QMessageBox::Yes);
    QCOMPARE(rec_->texts().value(0), again);
    QCOMPARE(rec_->messages.value(0).defaultButton, QMessageBox::No);
    settle();
  }
  QCOMPARE(listed(p_, 0), (QStringList{"10/2026", "10/2026"}));
}

void TstTransmit::simplesRefusals_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QStringList>("messages");
  const QByteArray resaved = pdf("10/2026") + "% nova revisao\n%%EOF\n";
  QTest::newRow("extrato") << pdf("EXTRATO DO SIMPLES NACIONAL 10/2026") << QStringList{kExtrato};
  QTest::newRow("recibo") << pdf("Recibo de entrega 10/2026") << QStringList{kRecibo};
  QTest::newRow("modificado") << resaved << QStringList{kModificado};
  QTest::newRow("recibo e modificado") << pdf("RECIBO 10/2026") + "%%EOF\n" << QStringList{kRecibo, kModificado};
  // clang-format on
}

// A refused document: the message of each marker, in the markers' order, then the refreshed list.
void TstTransmit::simplesRefusals() {
  QFETCH(QByteArray, bytes);
  QFETCH(QStringList, messages);
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  w->setPauses({5, 5, 20});
  w->setFolder(folderWith("declaracao.pdf", bytes));
  QVERIFY(w->chooseFile("declaracao.pdf"));
  const int refreshes = server_->rows("SELECT id FROM requisicao WHERE operacao = 'Transferencia.ver2'").size();
  rec_->clear();
  QVERIFY(press(w));
  QCOMPARE(rec_->texts(), messages);
  for (const auto& m : rec_->messages) QCOMPARE(m.title, QString("ZIDE"));
  settle();
  // Refused: the window stays for another file, and the journal says so.
  QVERIFY(Forms::find<FrmUploadSimples>() == w && w->isVisible());
  QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
  QCOMPARE(lastJournalRow().veredito, QString("recusado"));
  QVERIFY(lastJournalRow().resposta.contains("ARQUIVO INVALIDO"));
  QVERIFY(server_->rows("SELECT id FROM transmissao").isEmpty());
  QCOMPARE(server_->rows("SELECT id FROM requisicao WHERE operacao = 'Transferencia.ver2'").size(), refreshes + 1);
}

// The server's answer comes in two parts, the marker in the second: it is still seen.
void TstTransmit::markerInASecondDataEvent() {
  SandboxServer split({"--falha", "dividir:upload", "--contribuinte",
                       kIeSimples + ":" + kKeySimples + ":" + kCnpjSimples + ":S", "--ano-trabalho", kAno});
  QVERIFY2(split.isRunning(), qPrintable(split.log()));
  app_->writeSettings("127.0.0.1", QString::number(split.port()));
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  w->setPauses({5, 5, 20});
  w->setFolder(folderWith("recibo.pdf", pdf("RECIBO 10/2026")));
  QVERIFY(w->chooseFile("recibo.pdf"));
  QSignalSpy parts(w->uploader(), &Uploader::dataArrival);
  rec_->clear();
  QVERIFY(press(w));
  QVERIFY(parts.count() >= 2);
  QVERIFY(!parts.first().at(0).toByteArray().contains("ARQUIVO INVALIDO"));
  QCOMPARE(rec_->texts(), QStringList{kRecibo});
}

// In the Simples window a failed send says so and leaves the window open, the file chosen.
void TstTransmit::simplesFaults() {
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  rec_->clear();
  rec_->certificates.enqueue(accountantCert_.der);
  w->cmdUpload_Click();
  QCOMPARE(rec_->texts(), QStringList{"No File Chosen"});
  QCOMPARE(rec_->messages[0].title, QString("ERROR"));

  w->setPauses({5, 5, 20});
  w->setFolder(folderWith("DeclaracaoDASN.pdf", pdf("10/2026")));
  QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
  app_->writeSettings("", "80");
  rec_->clear();
  QVERIFY(!press(w, false));
  QCOMPARE(rec_->texts(), QStringList{"Invalid Host"});
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QVERIFY(w->isVisible());

  for (const QString& mode : {QString(), QString("fechar-no-envio:upload"), QString("silencio:upload")}) {
    std::unique_ptr<SandboxServer> s;
    quint16 port = 0;
    if (mode.isEmpty()) {
      port = closedPort();
    } else {
      // It knows the company, so the refresh after a lost answer lists quietly.
      s = std::make_unique<SandboxServer>(
          QStringList{"--falha", mode, "--contribuinte", kIeSimples + ":" + kKeySimples + ":" + kCnpjSimples + ":S"});
      QVERIFY2(s->isRunning(), qPrintable(s->log()));
      port = s->port();
    }
    app_->writeSettings("127.0.0.1", QString::number(port));
    if (!Forms::find<FrmUploadSimples>()) {
      w = openTransmission<FrmUploadSimples>();
      w->setPauses({5, 5, 20});
      w->setFolder(folderWith("DeclaracaoDASN.pdf", pdf("10/2026")));
      QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
    }
    w->uploader()->setIdleTimeoutMs(1500);
    QPointer<FrmUploadSimples> alive(w);
    rec_->clear();
    QSignalSpy finished(w, &TransmissionWindow::uploadFinished);
    rec_->certificates.enqueue(accountantCert_.der);
    click(w, "cmdUpload");
    QVERIFY2(finished.count() > 0 || finished.wait(30000), qPrintable(mode + rec_->texts().join('|')));
    QCOMPARE(finished.first().at(0).toBool(), false);
    settle();
    QVERIFY2(alive && w->isVisible(), qPrintable(mode));
    QVERIFY2(rec_->messages.size() == 1, qPrintable(rec_->texts().join('|')));
    QVERIFY2(rec_->lastText().startsWith("A declaração não foi enviada: a conexão") ||
                 rec_->lastText().startsWith(kNotDeliveredStart),
             qPrintable(rec_->lastText()));
    QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
    QVERIFY(p_->isEnabled());
    if (s) QVERIFY(s->rows("SELECT id FROM transmissao").isEmpty());
  }
}

void TstTransmit::simplesFileChoice() {
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  QCOMPARE(w->objectName(), QString("frmUploadSimples"));
  QCOMPARE(child<QLabel>(w, "Label1")->text(), QString("Transmissão de Declaração - Simples Nacional"));
  QVERIFY(!child<QPushButton>(w, "cmdUpload")->isEnabled());
  QCOMPARE(child<QLabel>(w, "lblSendSpeed")->text(), QString("100% restante"));
  QVERIFY(!w->findChild<QTableWidget*>());
  const QString folder = folderWith("declaracao.PDF", pdf("10/2026"));
  for (const char* name : {"arquivopdf", "nota.txt"}) {
    QFile f(folder + "/" + name);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }
  w->setFolder(folder);
  // Passing over the names with the keyboard chooses none of them.
  rec_->clear();
  auto* files = child<QListWidget>(w, "file");
  files->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < 3; ++i) QTest::keyClick(files, Qt::Key_Down);
  QCOMPARE(files->currentItem()->text(), QString("nota.txt"));
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join('|')));
  QVERIFY(child<QLineEdit>(w, "txtUploadFile")->text().isEmpty());
  p_->setEnabled(false);
  QVERIFY(w->chooseFile("declaracao.PDF"));
  QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
  QVERIFY(p_->isEnabled());
  QCOMPARE(child<QLineEdit>(w, "txtUploadFile")->text(), folder + "/declaracao.PDF");
  rec_->clear();
  QTest::keyClick(files, Qt::Key_Down);
  QTest::keyClick(files, Qt::Key_Return);
  QCOMPARE(rec_->texts(), QStringList{"Arquivo Inválido\r\n\r\nEscolha o PDF da declaração, baixado do site PGDAS "
                                      "(DeclaraçãoDASN-_____.pdf)."});
  QCOMPARE(rec_->messages[0].title, QString("ZIDE"));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Warning);
  QVERIFY(!child<QPushButton>(w, "cmdUpload")->isEnabled());
  QVERIFY(w->chooseFile("arquivopdf"));
  QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
  // "&Cancelar" hides the window and gives the main window back.
  p_->setEnabled(false);
  click(w, "Command2");
  QVERIFY(!w->isVisible());
  QVERIFY(p_->isEnabled());
  // The next window starts where the last file was chosen.
  w->close();
  settle();
  w = openTransmission<FrmUploadSimples>();
  QCOMPARE(w->folder(), folder);
  QCOMPARE(child<QListWidget>(w, "file")->count(), 3);
}

// The pause after the answer lets the program paint and count time; the messages come after it.
void TstTransmit::simplesPauseKeepsTheProgramAlive() {
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  w->setFolder(folderWith("recibo.pdf", pdf("RECIBO 10/2026")));
  QVERIFY(w->chooseFile("recibo.pdf"));
  rec_->clear();
  int ticks = 0;
  QTimer ticker;
  connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(50);
  QElapsedTimer sinceAnswer;
  // The window takes the answer at the server's close, right after its data.
  connect(w->uploader(), &Uploader::dataArrival, [&] {
    if (sinceAnswer.isValid()) return;
    sinceAnswer.start();
    ticks = 0;
  });
  qint64 waited = -1;
  int ticksDuringPause = -1;
  rec_->onMessage = [&](const Recorder::Message&) {
    if (waited < 0) {
      waited = sinceAnswer.elapsed();
      ticksDuringPause = ticks;
    }
  };
  QVERIFY(press(w));
  QCOMPARE(rec_->texts(), QStringList{kRecibo});
  QVERIFY2(waited >= 1400, qPrintable(QString::number(waited)));
  QVERIFY(ticksDuringPause > 0);
}

void TstTransmit::gridByRealInput_data() {
  // Rows 1 to 4 of the grid: 11/2024 and 12/2024 (a year the server does not take), 01/2025, 02/2025.
  // clang-format off
  QTest::addColumn<QString>("gesture");
  QTest::addColumn<QStringList>("gias");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QStringList>("refused");
  QTest::newRow("click")                 << "click"           << QStringList{"3"}      << QString() << QStringList();
  QTest::newRow("shift-click downwards") << "shift-click down" << QStringList{"3", "4"} << kDownward  << QStringList{"12/2024"};
  QTest::newRow("shift-click upwards")   << "shift-click up"   << QStringList{"3", "4"} << kUpward    << QStringList{"12/2024"};
  QTest::newRow("drag downwards")        << "drag down"        << QStringList{"3", "4"} << kDownward  << QStringList{"11/2024", "12/2024"};
  QTest::newRow("drag upwards")          << "drag up"          << QStringList{"3", "4"} << kUpward    << QStringList{"12/2024"};
  QTest::newRow("shift+Down twice")      << "shift+down"       << QStringList{"3", "4"} << kDownward  << QStringList{"12/2024"};
  QTest::newRow("shift+Up twice")        << "shift+up"         << QStringList{"3", "4"} << kUpward    << QStringList{"12/2024"};
  QTest::newRow("Ctrl+A")                << "ctrl+a"           << QStringList{"3", "4"} << kDownward  << QStringList{"11/2024", "12/2024"};
  QTest::newRow("shift+Home")            << "shift+home"       << QStringList{"3", "4"} << kUpward    << QStringList{"11/2024", "12/2024"};
  QTest::newRow("shift+End")             << "shift+end"        << QStringList{"3", "4"} << kDownward  << QStringList{"12/2024"};
  QTest::newRow("click on the header")   << "header"           << QStringList{"3"}      << QString()  << QStringList();
  QTest::newRow("drag from the header")  << "drag header"      << QStringList{"3"}      << kDownward  << QStringList{"11/2024", "12/2024"};
  QTest::newRow("Up on the first row")   << "up first"         << QStringList()         << kUpward    << QStringList();
  QTest::newRow("Tab to Enviar, Enter")  << "tab enter"        << QStringList{"3"}      << QString()  << QStringList();
  QTest::newRow("Shift+Tab, back, Tab")  << "backtab"          << QStringList{"3", "4"} << kDownward  << QStringList{"12/2024"};
  QTest::newRow("Enter in the grid")     << "enter"            << QStringList{"3", "4"} << kUpward    << QStringList{"12/2024"};
  // clang-format on
}

// The grid driven by the mouse and the keyboard on its viewport: exactly the chosen references go,
// with the year message of the selection's direction, and the header is never chosen.
void TstTransmit::gridByRealInput() {
  QFETCH(QString, gesture);
  QFETCH(QStringList, gias);
  QFETCH(QString, message);
  QFETCH(QStringList, refused);
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  QVERIFY(QTest::qWaitForWindowActive(f));
  QTableWidget* g = table(f, "GridRefencias");
  QWidget* vp = g->viewport();
  auto click = [&](int row, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::mouseClick(vp, Qt::LeftButton, m, rowCentre(g, row));
  };
  auto drag = [&](int from, int to) {
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, rowCentre(g, from));
    for (int r = from; r != to;) {
      r += to > from ? 1 : -1;
      QTest::mouseMove(vp, rowCentre(g, r));
    }
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, rowCentre(g, to));
  };
  auto key = [&](Qt::Key k, Qt::KeyboardModifiers m, int times = 1) {
    for (int i = 0; i < times; ++i) QTest::keyClick(g, k, m);
  };
  if (gesture == "click") click(3);
  else if (gesture == "shift-click down") click(2), click(4, Qt::ShiftModifier);
  else if (gesture == "shift-click up") click(4), click(2, Qt::ShiftModifier);
  else if (gesture == "drag down") drag(1, 4);
  else if (gesture == "drag up") drag(4, 2);
  else if (gesture == "shift+down") click(2), key(Qt::Key_Down, Qt::ShiftModifier, 2);
  else if (gesture == "shift+up") click(4), key(Qt::Key_Up, Qt::ShiftModifier, 2);
  else if (gesture == "ctrl+a") click(3), key(Qt::Key_A, Qt::ControlModifier);
  else if (gesture == "shift+home") click(4), key(Qt::Key_Home, Qt::ShiftModifier);
  else if (gesture == "shift+end") click(2), key(Qt::Key_End, Qt::ShiftModifier);
  else if (gesture == "header") click(3), click(0), click(0, Qt::ShiftModifier);
  else if (gesture == "drag header") drag(0, 3);
  else if (gesture == "up first") click(1), key(Qt::Key_Up, Qt::NoModifier), key(Qt::Key_Up, Qt::ShiftModifier);
  else if (gesture == "tab enter") click(3), key(Qt::Key_Tab, Qt::NoModifier);
  else if (gesture == "backtab") click(2), click(4, Qt::ShiftModifier), key(Qt::Key_Backtab, Qt::ShiftModifier);
  else if (gesture == "enter") click(4), click(2, Qt::ShiftModifier);
  // Tab and Shift+Tab leave the grid for the next control in either direction.
  if (gesture == "tab enter") QCOMPARE(QApplication::focusWidget(), child<QWidget>(f, "cmdUpload"));
  if (gesture == "backtab") {
    QCOMPARE(QApplication::focusWidget(), child<QWidget>(f, "file"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), g);
  }
  QVERIFY(g->currentRow() >= 1);
  for (int c = 0; c < g->columnCount(); ++c) QVERIFY(!g->item(0, c)->isSelected());
  if (gesture == "shift-click down") {
    snap(f, "frmupload");
    rec_->onMessage = [f](const Recorder::Message& m) {
      if (!m.text.startsWith("A prefeitura registrou")) return;
      snap(f, "frmupload-enviado");
      snapMessage(m, "frmupload-enviado-mensagem");
    };
  }

  rec_->clear();
  QPointer<FrmUpload> alive(f);
  std::function<void()> how;
  if (gesture == "tab enter" || gesture == "enter")
    how = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); };
  const bool sent = press(f, true, how);
  QCOMPARE(sent, !gias.isEmpty());
  QStringList expected;
  if (!message.isEmpty()) expected << message;
  QStringList months;
  for (const QString& k : gias) months << (k == "3" ? "01/2025" : "02/2025");
  if (sent) expected << summary(lastRecorded(*server_, int(gias.size())), refused);
  QCOMPARE(rec_->texts(), expected);
  const auto asked = server_->rows("SELECT caminho FROM requisicao WHERE caminho LIKE '/client_zide/%'");
  QCOMPARE(asked.size(), sent ? 1 : 0);
  if (sent) {
    QCOMPARE(asked[0].value("caminho").toString(), "/client_zide/xt_upload.php?contador=" + kAccountantStored +
                                                       "&chave=" + kKeyZide + "&gias=" + gias.join(','));
    settle();
    QVERIFY(!alive);
  }
  QStringList recorded;
  for (const auto& r : server_->rows("SELECT gia FROM transmissao ORDER BY id")) recorded << r.value("gia").toString();
  QCOMPARE(recorded, gias);
}

// The ZIDE window follows the selected company: hidden and shown again, or open while the
// selection changes, it lists the new company's references of the same declaration, and its
// send goes under that company's key with that company's references only.
void TstTransmit::zideCompanyChange() {
  const QString both = shared_.filePath("DUAS.GDB");
  if (!QFile::exists(both))
    QVERIFY(makeDeclaration(both, {"--company", kIeZide + "," + kCnpjZide + ",Empresa A", "--company",
                                   kIeZideB + "," + kCnpjZide + ",Empresa B", "--references", "4", "--first", "2024-11",
                                   "--rows-each", "2"}));
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  storeCompany(kIeZideB, kKeyZideB, false);
  const QString folder = app_->file("duas");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(both, folder + "/DUAS.GDB"));
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f);
  f->setFolder(folder);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  QVERIFY(f->chooseFile("DUAS.GDB"));
  QVERIFY(done.count() || done.wait(120000));
  QTableWidget* g = table(f, "GridRefencias");
  const QStringList keysA = keysListed(g);
  QCOMPARE(keysA.size(), 4);

  // "&Cancelar" hides the window; another company is selected; the transmit button shows it again.
  click(f, "Command2");
  choose(kIeZideB, kKeyZideB);
  rec_->clear();
  QCOMPARE(openTransmission<FrmUpload>(), f);
  const QStringList keysB = keysListed(g);
  QCOMPARE(keysB.size(), 4);
  for (const QString& k : keysB) QVERIFY2(!keysA.contains(k), qPrintable(k));
  QVERIFY(child<QLabel>(f, "lblContribuinte")->text().contains(kIeZideB));
  // Open while the selection changes: it follows at once, both ways.
  choose(kIeZide, kKeyZide);
  QCOMPARE(keysListed(g), keysA);
  choose(kIeZideB, kKeyZideB);
  QCOMPARE(keysListed(g), keysB);
  // A company the declaration does not hold: nothing to send.
  choose(kIeSimples, kKeySimples);
  QCOMPARE(keysListed(g), QStringList());
  QVERIFY(!child<QPushButton>(f, "cmdUpload")->isEnabled());
  QCOMPARE(rec_->lastText(), QString("Erro: Arquivo não contém informações da empresa selecionada"));
  choose(kIeZideB, kKeyZideB);
  QVERIFY(QTest::qWaitForWindowExposed(f));
  QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(g, 3));
  QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(g, 4));
  rec_->clear();
  QVERIFY(press(f));
  const auto sent = server_->rows("SELECT ie, gia, status, referencia FROM transmissao ORDER BY id");
  QCOMPARE(sent.size(), 2);
  for (int i = 0; i < 2; ++i) {
    QCOMPARE(sent[i].value("ie").toString(), kIeZideB);
    QCOMPARE(sent[i].value("gia").toString(), keysB[2 + i]);
    QCOMPARE(sent[i].value("status").toInt(), 1);  // the sandbox found them in B's block
  }
  // It got B's part of the declaration alone: B's block and references, none of A's.
  QMap<QString, int> got;
  for (const auto& c : server_->rows("SELECT tabela, linhas FROM arquivo_tabela"))
    got[c.value("tabela").toString()] = c.value("linhas").toInt();
  QCOMPARE(got.size(), Intake::tables().size());
  QCOMPARE(QPair(got["TAB03002"], got["TAB03003"]), QPair(1, 4));
  DbConnection work(app_->file("zide.db"));
  QCOMPARE(work.query("SELECT count(*) FROM TAB03003").first().value(0).toInt(), 8);
  const auto asked = server_->rows("SELECT caminho FROM requisicao WHERE caminho LIKE '/client_zide/%'");
  QCOMPARE(asked.size(), 1);
  QVERIFY(asked[0].value("caminho").toString().contains("&chave=" + kKeyZideB + "&gias=" + keysB.mid(2).join(',')));
}

// The Simples window shows the selected company and forgets a PDF chosen for another one.
void TstTransmit::simplesCompanyChange() {
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  storeCompany(kIeSimplesB, kKeySimplesB, true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  w->setPauses({5, 5, 20});
  const QString folder = folderWith("DeclaracaoDASN.pdf", pdf("10/2026"));
  w->setFolder(folder);
  QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
  QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
  QVERIFY(child<QLabel>(w, "lblContribuinte")->text().contains(kIeSimples));
  // Open while the selection changes.
  choose(kIeSimplesB, kKeySimplesB);
  QVERIFY(child<QLabel>(w, "lblContribuinte")->text().contains(kIeSimplesB));
  QVERIFY(!child<QPushButton>(w, "cmdUpload")->isEnabled());
  QVERIFY(child<QLineEdit>(w, "txtUploadFile")->text().isEmpty());
  // Hidden, back to the first company and shown again by the transmit button.
  QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
  click(w, "Command2");
  choose(kIeSimples, kKeySimples);
  QCOMPARE(openTransmission<FrmUploadSimples>(), w);
  QVERIFY(child<QLabel>(w, "lblContribuinte")->text().contains(kIeSimples));
  QVERIFY(!child<QPushButton>(w, "cmdUpload")->isEnabled());
  QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
  rec_->clear();
  QVERIFY(press(w));
  const auto sent = server_->rows("SELECT ie FROM transmissao");
  QCOMPARE(sent.size(), 1);
  QCOMPARE(sent[0].value("ie").toString(), kIeSimples);
  const auto asked = server_->rows("SELECT caminho FROM requisicao WHERE caminho LIKE '/client/%'");
  QCOMPARE(asked.size(), 1);
  QVERIFY(asked[0].value("caminho").toString().contains("&chave=" + kKeySimples + "&gias="));
}

void TstTransmit::zideAnswerFaults_data() {
  // clang-format off
  QTest::addColumn<QString>("mode");
  QTest::addColumn<QString>("why");
  QTest::addColumn<int>("recorded");
  QTest::newRow("HTTP 500 after the whole upload") << "erro500:upload"             << kRefusedStart + k500 + "\"\r\n\r\n"  << 0;
  QTest::newRow("close without an answer")         << "fechar-sem-resposta:upload" << kNotDeliveredStart + "a conexão terminou sem resposta do servidor" + kNotDeliveredEnd << 2;
  QTest::newRow("silence after the upload")        << "silencio:upload"            << kNotDeliveredStart + "o servidor não respondeu" + kNotDeliveredEnd << 0;
  QTest::newRow("an answer that is not HTTP")      << "lixo:upload"                << kNotDeliveredStart + "o servidor respondeu algo que não é uma resposta válida" + kNotDeliveredEnd << 0;
  // clang-format on
}

// No accepted answer after the whole upload: the window stays with its references, says the
// declaration may not have arrived, and the main window's list is refreshed to show whether it
// did. Nothing goes again unless the user presses again, and then a month already listed is
// asked about (default "Não").
void TstTransmit::zideAnswerFaults() {
  QFETCH(QString, mode);
  QFETCH(QString, why);
  QFETCH(int, recorded);
  SandboxServer faulty(
      {"--falha", mode, "--contribuinte", kIeZide + ":" + kKeyZide + ":" + kCnpjZide, "--ano-trabalho", kAno});
  QVERIFY2(faulty.isRunning(), qPrintable(faulty.log()));
  app_->writeSettings("127.0.0.1", QString::number(faulty.port()));
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  f->uploader()->setIdleTimeoutMs(1500);
  f->selectReferences(3, 4);
  const auto refreshes = [&] {
    return faulty.rows("SELECT id FROM requisicao WHERE operacao = 'Transferencia.ver2'").size();
  };
  const int before = refreshes();
  rec_->clear();
  QSignalSpy finished(f, &TransmissionWindow::uploadFinished);
  QVERIFY(press(f));
  QCOMPARE(finished.count(), 1);
  QCOMPARE(finished.first().at(0).toBool(), false);
  const QString lines = verdictLines({"01/2025", "02/2025"}, lastRecorded(faulty, recorded));
  QCOMPARE(rec_->texts(), QStringList{why + lines + (mode.startsWith("erro500") ? kRefusedEnd : QString())});
  const DeliveryStore::Delivery row = lastJournalRow();
  QCOMPARE(row.veredito, QString(mode.startsWith("erro500") ? "recusado" : "sem resposta"));
  QCOMPARE(row.httpStatus, mode.startsWith("erro500") ? 500 : 0);
  QCOMPARE(row.referencias, QString("01/2025, 02/2025"));
  QCOMPARE(row.protocolos.isEmpty(), recorded == 0);
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Warning);
  settle();
  QVERIFY(f->isVisible());
  QCOMPARE(table(f, "GridRefencias")->rowCount(), 5);
  QVERIFY(child<QPushButton>(f, "cmdUpload")->isEnabled());
  QCOMPARE(refreshes(), before + 1);
  QCOMPARE(faulty.rows("SELECT id FROM transmissao").size(), recorded);
  QCOMPARE(listed(p_, 0).size(), recorded);
  if (mode.startsWith("erro500")) {
    snap(f, "frmupload-recusado");
    snapMessage(rec_->messages[0], "frmupload-recusado-mensagem");
  }
  if (recorded == 0) return;
  // The list shows both months now: a second press asks, and "Não" (the default) sends nothing.
  rec_->clear();
  QVERIFY(!press(f, false));
  QCOMPARE(rec_->messages.size(), 1);
  QCOMPARE(rec_->messages[0].text,
           QString("As referências 01/2025, 02/2025 já constam na lista de transmissões.\r\n\r\nDeseja enviá-las "
                   "novamente?"));
  QCOMPARE(rec_->messages[0].defaultButton, QMessageBox::No);
  QCOMPARE(faulty.rows("SELECT id FROM requisicao WHERE caminho LIKE '/client_zide/%'").size(), 1);
  QCOMPARE(faulty.rows("SELECT id FROM transmissao").size(), recorded);
}

void TstTransmit::zideVerdicts_data() {
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("verdict");
  QTest::newRow("reference not in it") << "not in file"  << kRefusedStart + "ARQUIVO INVALIDO - a referência %1 não existe na tabela TAB03003 do arquivo enviado\"\r\n\r\n" << "recusado";
  QTest::newRow("another company")     << "other key"    << kRefusedStart + "ARQUIVO INVALIDO - a referência 3 não é da empresa da chave informada (IE " + kIeZideB + ")\"\r\n\r\n" << "recusado";
  QTest::newRow("unknown key")         << "unknown key"  << kRefusedStart + "CHAVE_INVALIDA\"\r\n\r\n" << "recusado";
  QTest::newRow("one left unrecorded") << "omit"         << "O servidor aceitou o envio, mas nem tudo o que foi enviado consta na lista de transmissões da prefeitura:\r\n\r\n" << "não confirmado";
  QTest::newRow("all recorded")        << "all"          << "A prefeitura registrou a declaração.\r\n\r\n" << "registrado";
  // clang-format on
}

// What the server said decides: a refusal quotes it and keeps the window; an answer that claims
// more than the list shows keeps it too; only a send the list confirms whole closes it.
void TstTransmit::zideVerdicts() {
  QFETCH(QString, kind);
  QFETCH(QString, message);
  QFETCH(QString, verdict);
  QStringList args{"--contribuinte", kIeZide + ":" + kKeyZide + ":" + kCnpjZide,
                   "--contribuinte", kIeZideB + ":" + kKeyZideB + ":" + kCnpjZide,
                   "--ano-trabalho", kAno};
  if (kind == "omit") args << "--omitir-referencia";
  SandboxServer sandbox(args);
  QVERIFY2(sandbox.isRunning(), qPrintable(sandbox.log()));
  app_->writeSettings("127.0.0.1", QString::number(sandbox.port()));
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  // The working database changed behind the window: what goes out no longer holds the references
  // listed, and the server says which one it misses.
  if (kind == "not in file") {
    DbConnection db(app_->file("zide.db"));
    db.exec("delete from TAB03003");
  }
  // The key the main window holds is what the upload carries.
  if (kind == "other key" || kind == "unknown key")
    Session::current().selectTaxpayer({kIeZide, "Empresa", kind == "other key" ? kKeyZideB : "NOPE1234"});
  QCOMPARE(table(f, "GridRefencias")->rowCount(), 5);
  f->selectReferences(3, 4);
  QPointer<FrmUpload> alive(f);
  rec_->clear();
  QVERIFY(press(f));
  const QString lines = verdictLines({"01/2025", "02/2025"}, lastRecorded(sandbox, 2));
  QString expected =
      (kind == "not in file" ? message.arg(table(f, "GridRefencias")->item(3, 0)->text()) : message) + lines;
  // A key the server does not give this company also empties the refresh: the list stays unread.
  if (kind.endsWith("key")) expected += "\r\n\r\nA lista de transmissões não pôde ser lida do servidor para conferir.";
  if (verdict == "recusado") expected += kRefusedEnd;
  if (kind == "omit")
    expected +=
        "\r\n\r\nA janela continua aberta: confira a lista da janela principal e envie de novo o que não "
        "consta.";
  QVERIFY2(rec_->texts().contains(expected), qPrintable(rec_->texts().join("\n|\n")));
  const DeliveryStore::Delivery row = lastJournalRow();
  QCOMPARE(row.veredito, verdict);
  QCOMPARE(row.tipo, QString("ZIDE"));
  QCOMPARE(row.ie, kIeZide);
  QCOMPARE(row.contador, kAccountantStored);
  QCOMPARE(row.arquivo, QString("ZIDE.GDB"));
  QCOMPARE(row.referencias, QString("01/2025, 02/2025"));
  QCOMPARE(row.httpStatus, 200);
  QCOMPARE(row.sha256, QString::fromLatin1(QCryptographicHash::hash(
                                               [&] {
                                                 QFile mdb(app_->file("zide_envio.mdb"));
                                                 return mdb.open(QIODevice::ReadOnly) ? mdb.readAll() : QByteArray();
                                               }(),
                                               QCryptographicHash::Sha256)
                                               .toHex()));
  QStringList confirmed;
  for (const QString& r : lastRecorded(sandbox, 2)) confirmed << r.section('=', 1);
  QCOMPARE(row.protocolos, verdict == "recusado" ? QString() : confirmed.join(", "));
  // The window's copy, table by table, as the command line's rows keep it.
  QVERIFY2(row.tabelas.contains("TAB03002: 1 mantidas, 0 fora"), qPrintable(row.tabelas));
  settle();
  QCOMPARE(bool(alive), kind != "all");
  if (alive) QVERIFY(f->isVisible());
  // A key the server refuses is forgotten with the selection, and the window waits for a company.
  if (alive) QCOMPARE(child<QPushButton>(f, "cmdUpload")->isEnabled(), !kind.endsWith("key"));
  QCOMPARE(sandbox.rows("SELECT id FROM transmissao").size(), kind == "all" ? 2 : kind == "omit" ? 1 : 0);
}

void TstTransmit::simplesAnswerFaults_data() {
  // clang-format off
  QTest::addColumn<QString>("mode");
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("recorded");
  QTest::newRow("connection refused")   << "porta-fechada"              << "A declaração não foi enviada: a conexão com o servidor da prefeitura falhou (Connection is forcefully rejected).\r\n\r\nO arquivo continua escolhido; confira a conexão e tente de novo." << 0;
  QTest::newRow("HTTP 500")             << "erro500:upload"             << kRefusedStart + k500 + "\"\r\n\r\n" << 0;
  QTest::newRow("close without answer") << "fechar-sem-resposta:upload" << kNotDeliveredStart + "a conexão terminou sem resposta do servidor" + kNotDeliveredEnd << 1;
  QTest::newRow("silence")              << "silencio:upload"            << kNotDeliveredStart + "o servidor não respondeu" + kNotDeliveredEnd << 0;
  // clang-format on
}

// A Simples send that fails says so and keeps the window open with the file chosen; the next
// press sends the same file.
void TstTransmit::simplesAnswerFaults() {
  QFETCH(QString, mode);
  QFETCH(QString, text);
  QFETCH(int, recorded);
  std::unique_ptr<SandboxServer> faulty;
  if (mode != "porta-fechada") {
    faulty = std::make_unique<SandboxServer>(
        QStringList{"--falha", mode, "--contribuinte", kIeSimples + ":" + kKeySimples + ":" + kCnpjSimples + ":S"});
    QVERIFY2(faulty->isRunning(), qPrintable(faulty->log()));
    app_->writeSettings("127.0.0.1", QString::number(faulty->port()));
  }
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  if (!faulty) app_->writeSettings("127.0.0.1", QString::number(closedPort()));
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  w->setPauses({5, 5, 20});
  w->uploader()->setIdleTimeoutMs(1500);
  w->setFolder(folderWith("DeclaracaoDASN.pdf", pdf("10/2026")));
  QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
  rec_->clear();
  QSignalSpy finished(w, &TransmissionWindow::uploadFinished);
  rec_->certificates.enqueue(accountantCert_.der);
  click(w, "cmdUpload");
  QVERIFY(finished.count() > 0 || finished.wait(30000));
  QCOMPARE(finished.first().at(0).toBool(), false);
  QString expected = text;
  if (faulty) {
    expected += verdictLines({""}, lastRecorded(*faulty, recorded));
    if (mode.startsWith("erro500")) expected += kRefusedEnd;
  }
  QCOMPARE(rec_->texts(), QStringList{expected});
  settle();
  QVERIFY(w->isVisible());
  QCOMPARE(lastJournalRow().veredito, QString(!faulty                      ? "não enviado"
                                              : mode.startsWith("erro500") ? "recusado"
                                                                           : "sem resposta"));
  QVERIFY(child<QPushButton>(w, "cmdUpload")->isEnabled());
  QCOMPARE(child<QListWidget>(w, "file")->currentItem()->text(), QString("DeclaracaoDASN.pdf"));
  if (faulty) QCOMPARE(faulty->rows("SELECT id FROM transmissao").size(), recorded);
  if (mode.startsWith("erro500")) {
    snap(w, "frmuploadsimples-recusado");
    snapMessage(rec_->messages[0], "frmuploadsimples-recusado-mensagem");
  }
  // The same file, pressed again against the working server, is delivered.
  app_->writeSettings("127.0.0.1", QString::number(server_->port()));
  QPointer<FrmUploadSimples> alive(w);
  rec_->clear();
  // The failed server recorded it: the list shows the period, and sending again is asked.
  if (recorded) rec_->answers.enqueue(QMessageBox::Yes);
  QVERIFY(press(w, false));
  settle();
  QVERIFY2(!alive, qPrintable(rec_->texts().join('|')));
  QCOMPARE(server_->rows("SELECT id FROM transmissao").size(), 1);
}

// "&Enviar" stays disabled while a send runs; closing the window then ends the send cleanly and
// gives the main window back.
void TstTransmit::busyButtonAndCloseDuringSend() {
  SandboxServer silent({"--falha", "silencio:upload", "--contribuinte", kIeZide + ":" + kKeyZide + ":" + kCnpjZide,
                        "--ano-trabalho", kAno});
  QVERIFY2(silent.isRunning(), qPrintable(silent.log()));
  app_->writeSettings("127.0.0.1", QString::number(silent.port()));
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  f->selectReferences(3, 3);
  auto* button = child<QPushButton>(f, "cmdUpload");
  rec_->certificates.enqueue(accountantCert_.der);
  rec_->clear();
  click(f, "cmdUpload");
  QVERIFY(f->isSending());
  QVERIFY(!button->isEnabled());
  QTRY_COMPARE_WITH_TIMEOUT(f->uploader()->state(), Uploader::State::WaitingAnswer, 10000);
  QVERIFY(!button->isEnabled());
  // A second click does nothing while the first send runs.
  button->click();
  QPointer<FrmUpload> alive(f);
  p_->setEnabled(false);
  f->close();
  settle();
  QVERIFY(!alive);
  QVERIFY(p_->isEnabled());
  QVERIFY(rec_->messages.isEmpty());
  QTRY_COMPARE_WITH_TIMEOUT(silent.log().count("xt_upload.php"), qsizetype(1), 5000);
}

// A send needs the main window's accountant and key; an empty working file is never sent.
void TstTransmit::noSendWithoutAccountantOrKey() {
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  f->selectReferences(3, 4);
  Session::current().setAccountantDocument(QString());
  rec_->clear();
  QVERIFY(!press(f));
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY(rec_->lastText().startsWith("A declaração não pode ser enviada: faltam os dados do contador"));
  QVERIFY(rec_->certificateDialogs.isEmpty());
  Session::current().setAccountantDocument(kAccountantStored);

  // The working database gone: the company's part cannot be made, and nothing else goes instead.
  QVERIFY(QFile::remove(app_->file("zide.db")));
  rec_->clear();
  QVERIFY(!press(f));
  QCOMPARE(rec_->messages.size(), 1);
  QVERIFY2(rec_->lastText().startsWith("A declaração não foi enviada: não foi possível separar os dados da empresa"),
           qPrintable(rec_->lastText()));
  QCOMPARE(rec_->messages[0].icon, QMessageBox::Critical);
  QVERIFY(child<QPushButton>(f, "cmdUpload")->isEnabled());

  // The working file emptied after the intake.
  QFile work(app_->file("zide.mdb"));
  QVERIFY(work.open(QIODevice::WriteOnly | QIODevice::Truncate));
  work.close();
  rec_->clear();
  QVERIFY(!press(f));
  QCOMPARE(rec_->texts(), QStringList{"A declaração não foi enviada: o arquivo de trabalho preparado a partir de "
                                      "ZIDE.GDB está vazio.\r\n\r\nEscolha o arquivo da declaração de novo."});
  QVERIFY(child<QPushButton>(f, "cmdUpload")->isEnabled());
  // Gone altogether.
  QVERIFY(work.remove());
  rec_->clear();
  QVERIFY(!press(f, false));
  QVERIFY2(rec_->lastText().contains("não pôde ser lido"), qPrintable(rec_->lastText()));
  QVERIFY(server_->rows("SELECT id FROM requisicao WHERE caminho LIKE '/client_zide/%'").isEmpty());

  // The Simples window too: a missing key sends nothing.
  f->close();
  settle();
  Session::current().selectTaxpayer({kIeSimples, "Empresa", QString()});
  storeCompany(kIeSimples, QString(), true);
  auto* w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  w->setFolder(folderWith("DeclaracaoDASN.pdf", pdf("10/2026")));
  QVERIFY(w->chooseFile("DeclaracaoDASN.pdf"));
  rec_->clear();
  QVERIFY(!press(w));
  QVERIFY(rec_->lastText().startsWith("A declaração não pode ser enviada"));
  QVERIFY(server_->rows("SELECT id FROM requisicao WHERE caminho LIKE '/client/%'").isEmpty());
}

// Choosing the same file again (a click or Enter on it) runs the intake again; the windows start
// in the folder of the last declaration, also after a restart; the path box takes a typed
// folder; the lists jump by typing.
void TstTransmit::sameFileAgainAndFolders() {
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  FrmUpload* f = openTransmission<FrmUpload>();
  QVERIFY(f && takeIn(f));
  QVERIFY(QTest::qWaitForWindowExposed(f));
  const QString folder = f->folder();
  auto* files = child<QListWidget>(f, "file");
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  rec_->clear();
  const QPoint at = files->visualItemRect(files->currentItem()).center();
  QTest::mouseClick(files->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QVERIFY(done.count() || done.wait(120000));
  QCOMPARE(rec_->texts(), QStringList{kCloseZide});
  done.clear();
  QTest::keyClick(files, Qt::Key_Return);
  QVERIFY(done.count() || done.wait(120000));
  QCOMPARE(rec_->texts(), (QStringList{kCloseZide, kCloseZide}));
  QCOMPARE(table(f, "GridRefencias")->rowCount(), 5);

  // Enter in the path box opens the folder and nothing else, even with "Enviar" ready to press.
  QVERIFY(child<QPushButton>(f, "cmdUpload")->isEnabled());
  QVERIFY(child<QPushButton>(f, "cmdUpload")->isDefault());
  rec_->clear();
  auto* typed = child<QLineEdit>(f, "txtCaminho");
  typed->setText(folder);
  QTest::keyClick(typed, Qt::Key_Return);
  QCOMPARE(f->folder(), folder);
  QVERIFY(rec_->certificateDialogs.isEmpty());
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));

  // The folder is kept in the user's settings file, so a new run starts there.
  f->close();
  settle();
  QSettings kept(app_->file("zide-usuario.ini"), QSettings::IniFormat);
  QCOMPARE(kept.value("transmissao/pasta").toString(), folder);
  FrmUpload* again = openTransmission<FrmUpload>();
  QCOMPARE(again->folder(), folder);
  QCOMPARE(child<QLineEdit>(again, "txtCaminho")->text(), QDir::toNativeSeparators(folder));

  // A typed folder; one that does not exist; a pasted file path chooses the file.
  auto* path = child<QLineEdit>(again, "txtCaminho");
  const QString other = folderWith("Outra.txt", "x");
  QDir().mkpath(other + "/Balancetes");
  QDir().mkpath(other + "/Declaracoes");
  path->setText(other);
  QTest::keyClick(path, Qt::Key_Return);
  QCOMPARE(again->folder(), other);
  rec_->clear();
  path->setText(other + "/nao-existe");
  QTest::keyClick(path, Qt::Key_Return);
  QCOMPARE(rec_->texts(), QStringList{"A pasta \"" + other + "/nao-existe\" não foi encontrada."});
  QCOMPARE(again->folder(), other);
  // Typing in the folder list jumps to the folder, in spite of its indentation.
  auto* dirs = child<QListWidget>(again, "dir");
  QTest::keyClicks(dirs, "dec");
  QVERIFY(dirs->currentItem());
  QCOMPARE(dirs->currentItem()->text().trimmed(), QString("Declaracoes"));
  QTest::keyClick(dirs, Qt::Key_Return);
  QCOMPARE(again->folder(), other + "/Declaracoes");
}

// Closing the main window closes the transmission windows and ends the program.
void TstTransmit::closingTheMainWindowClosesTheOthers() {
  storeAccountantAndCompany(kIeSimples, kKeySimples, true);
  QPointer<FrmUploadSimples> w = openTransmission<FrmUploadSimples>();
  QVERIFY(w);
  Forms::resetProgramEnded();
  p_->close();
  QTRY_VERIFY_WITH_TIMEOUT(Forms::programEnded(), 5000);
  settle();
  QVERIFY(!w);
  QVERIFY(Session::current().accountantDocument().isEmpty());
  Forms::resetProgramEnded();
  p_ = Forms::get<Principal>();
  p_->show();
}

void TstTransmit::closingDuringAPreparation_data() {
  QTest::addColumn<QString>("closed");
  QTest::newRow("the main window") << "Principal";
  QTest::newRow("the ZIDE window") << "frmUpload";
}

// Closing during the preparation of a large declaration stops it and leaves nothing of the
// declaration in the data folder; the user's own file stays.
void TstTransmit::closingDuringAPreparation() {
  QFETCH(QString, closed);
  const QString big = shared_.filePath("GRANDE.GDB");
  if (!QFile::exists(big))
    QVERIFY(makeDeclaration(big, {"--company", kIeZide + "," + kCnpjZide + ",Empresa", "--references", "4", "--first",
                                  "2024-11", "--total-rows", "600000", "--quiet"}));
  storeAccountantAndCompany(kIeZide, kKeyZide, false);
  QPointer<FrmUpload> f = openTransmission<FrmUpload>();
  QVERIFY(f);
  const QString folder = app_->file("grande");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(big, folder + "/ZIDE.GDB"));
  f->setFolder(folder);
  QSignalSpy loading(f->findChild<Intake*>(), &Intake::loadingStarted);
  QVERIFY(f->chooseFile("ZIDE.GDB"));
  QVERIFY(loading.wait(120000));
  QTest::qWait(300);
  const QDir temp(app_->file("temp"));
  QVERIFY(f->isPreparing());
  QVERIFY(temp.exists("declaracao.gdb"));
  QVERIFY(QFile::exists(app_->file("zide.mdb.parcial")));

  if (closed == "Principal") {
    Forms::resetProgramEnded();
    p_->close();
    QTRY_VERIFY_WITH_TIMEOUT(Forms::programEnded(), 5000);
  } else {
    f->close();
  }
  settle();
  QVERIFY(!f);
  QCOMPARE(temp.entryList(QDir::Files | QDir::Hidden), QStringList());
  for (const char* name : {"zide.mdb.parcial", "zide.mdb", "zide.db", "zide.db-journal"})
    QVERIFY2(!QFile::exists(app_->file(name)), name);
  QVERIFY(QFile::exists(folder + "/ZIDE.GDB"));
  if (closed == "Principal") {
    Forms::resetProgramEnded();
    p_ = Forms::get<Principal>();
    p_->show();
  }
}

void TstTransmit::startingOverLeftovers_data() {
  QTest::addColumn<bool>("otherProgramPreparing");
  QTest::newRow("an unfinished run") << false;
  QTest::newRow("another program preparing") << true;
}

// At start the program removes what a preparation that never ended left in the data folder, and
// nothing else; files of a preparation still running in another program stay.
void TstTransmit::startingOverLeftovers() {
  QFETCH(bool, otherProgramPreparing);
  const QStringList leftovers = {
      "temp/exportTAB03003.txt", "temp/estruturaTAB03003.txt", "temp/declaracao.gdb", "zide.mdb.parcial", "zide.db",
      "zide.db-journal"};
  const QStringList users = {"temp/planilha.xlsx", "temp/exportacao.txt", "ZIDE.GDB", "diziz.ini"};
  QDir().mkpath(app_->file("temp"));
  for (const QString& name : leftovers + users)
    if (name != "diziz.ini") app_->write(name, "dados da empresa");
  QLockFile other(app_->file("temp/preparacao.lock"));
  if (otherProgramPreparing) QVERIFY(other.tryLock(0));
  qputenv("ZIDE_QUIT_WHEN_SHOWN", "1");
  const RunResult run = runProgram(builtProgram("zide"), {});
  qunsetenv("ZIDE_QUIT_WHEN_SHOWN");
  QVERIFY2(run.exitCode == 0, run.err.constData());
  for (const QString& name : leftovers)
    QVERIFY2(QFile::exists(app_->file(name)) == otherProgramPreparing, qPrintable(name));
  for (const QString& name : users) QVERIFY2(QFile::exists(app_->file(name)), qPrintable(name));
}

QTEST_MAIN(TstTransmit)
#include "tst_transmit.moc"
