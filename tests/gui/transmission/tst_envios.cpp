// The journal of deliveries as the accountant reads it: the "Envios" window (menu Transmissão),
// its filter, details and CSV export, and `zide-cli envios` in its three formats, all from the
// same rows.
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>

#include "gui/main/principal.h"
#include "gui/transmission/frmenvios.h"
#include "registry/deliverystore.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "support/formdriver.h"
#include "support/recorder.h"
#include "support/testenv.h"

using namespace FormDriver;

namespace {
DeliveryStore::Delivery delivery(int minute, const QString& ie, const QString& name, const QString& verdict,
                                 const QString& protocols) {
  DeliveryStore::Delivery d;
  d.data = QDateTime(QDate(2026, 3, 10), QTime(9, minute, 0));
  d.tipo = ie.endsWith('2') ? "SIMPLES" : "ZIDE";
  d.ie = ie;
  d.razaoSocial = name;
  d.contador = "52.601.815/0001-20";
  d.arquivo = "ZIDE; \"março\".GDB";
  d.tamanho = 1000 + minute;
  d.sha256 = QString(64, QChar('a' + minute % 6));
  d.referencias = d.tipo == "ZIDE" ? "01/2026, 02/2026" : "";
  d.httpStatus = 200;
  d.resposta = "<p>ARQUIVO INVALIDO - motivo " + QByteArray::number(minute) + "</p>";
  d.veredito = verdict;
  d.protocolos = protocols;
  return d;
}

QByteArray cli(const QString& home, const QStringList& args, int* status) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("ZIDE_HOME", home);
  p.setProcessEnvironment(env);
  p.start(builtProgram("zide-cli"), QStringList{"envios"} + args);
  if (!p.waitForFinished(30000)) return {};
  *status = p.exitCode();
  return p.readAllStandardOutput();
}
}  // namespace

class TstEnvios : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void windowFilterDetailsExport();
  void commandLineFormats_data();
  void commandLineFormats();

 private:
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<Recorder> rec_;
  const QString kA = "0623079040081", kB = "0623079040162";
};

void TstEnvios::init() {
  app_ = std::make_unique<TestAppFolder>();
  rec_ = std::make_unique<Recorder>();
  LocalDatabase::Connection db;
  DeliveryStore::add(db, delivery(1, kA, "Padaria Central", "recusado", ""));
  DeliveryStore::add(db, delivery(2, kB, "Mercado do Simples", "registrado", "2026000003"));
  DeliveryStore::add(db, delivery(3, kA, "Padaria Central", "registrado", "2026000001, 2026000002"));
}

void TstEnvios::cleanup() {
  Forms::unloadAll();
  settle();
  Session::current().reset();
  rec_.reset();
  app_.reset();
}

void TstEnvios::windowFilterDetailsExport() {
  Session::current().selectTaxpayer({kA, "Padaria Central", "K"});
  Principal* p = Forms::get<Principal>();
  p->show();
  // Where an accountant looks: Transmissão › Envios.
  QAction* menu = p->findChild<QAction*>("mnEnvios");
  QVERIFY(menu);
  QCOMPARE(p->findChild<QMenu*>("mnTransmissao")->title(), QString("&Transmissão"));
  menu->trigger();
  FrmEnvios* w = Forms::find<FrmEnvios>();
  QVERIFY(w && w->isVisible());
  auto* grid = child<QTableWidget>(w, "GridEnvios");
  auto* filter = child<QComboBox>(w, "cboEmpresa");
  const auto column = [&](int c) {
    QStringList out;
    for (int r = 1; r < grid->rowCount(); ++r) out << grid->item(r, c)->text();
    return out;
  };
  // The selected company's rows first, newest first.
  QCOMPARE(filter->currentData().toString(), kA);
  QCOMPARE(column(0), QStringList({"10/03/2026 09:03:00", "10/03/2026 09:01:00"}));
  QCOMPARE(column(6), QStringList({"registrado", "recusado"}));
  QVERIFY(w->filtrar(QString()));
  QCOMPARE(column(2), QStringList({kA, kB, kA}));
  QVERIFY(!w->filtrar("9999"));
  QVERIFY(w->filtrar(kB));
  QCOMPARE(column(7), QStringList{"2026000003"});

  // The details of a row: every field and the server's answer.
  QVERIFY(w->filtrar(QString()));
  grid->setCurrentCell(3, 0);
  const QString details = child<QPlainTextEdit>(w, "txtDetalhes")->toPlainText();
  for (const QString& part : {QString("SHA-256: ") + QString(64, 'b'), QString("Tamanho (bytes): 1001"),
                              QString("<p>ARQUIVO INVALIDO - motivo 1</p>"), QString("Veredito: recusado")})
    QVERIFY2(details.contains(part), qPrintable(details));

  if (!qEnvironmentVariable("ZIDE_SCREENSHOTS").isEmpty()) {
    w->move(40, 40);
    grid->horizontalScrollBar()->setValue(0);
    w->raise();
    w->activateWindow();
    QTest::qWait(800);
    const QRect frame = w->frameGeometry();
    w->screen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(QDir(qEnvironmentVariable("ZIDE_SCREENSHOTS")).filePath("envios.png"));
  }

  // Export: cancelled writes nothing; chosen, the rows shown, read back field by field.
  rec_->files << "";
  QVERIFY(!w->cmdExportar_Click());
  const QString out = app_->file("saida/envios.csv");
  QDir().mkpath(app_->file("saida"));
  rec_->files << out;
  QVERIFY(w->filtrar(kA));
  QVERIFY(w->cmdExportar_Click());
  QCOMPARE(rec_->fileDialogs, QStringList({"Exportar envios", "Exportar envios"}));
  QVERIFY2(rec_->lastText().startsWith("2 envio(s) exportado(s)"), qPrintable(rec_->lastText()));
  QFile f(out);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QList<QStringList> csv = readCsv(QString::fromUtf8(f.readAll()));
  QCOMPARE(csv.size(), 3);
  QCOMPARE(csv[0].value(0), QString("Data"));
  QCOMPARE(csv[1].value(csv[0].indexOf("Arquivo")), QString("ZIDE; \"março\".GDB"));
  QCOMPARE(csv[1].value(csv[0].indexOf("Protocolos")), QString("2026000001, 2026000002"));
  QCOMPARE(csv[2].value(csv[0].indexOf("Resposta")), QString("<p>ARQUIVO INVALIDO - motivo 1</p>"));

  // A folder that cannot be written: said, nothing claimed.
  rec_->files << app_->file("nao/existe/envios.csv");
  QVERIFY(!w->cmdExportar_Click());
  QVERIFY2(rec_->lastText().startsWith("Não foi possível gravar"), qPrintable(rec_->lastText()));
}

void TstEnvios::commandLineFormats_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("rows");
  // clang-format off
  QTest::newRow("texto, all")  << QStringList{}                                  << 3;
  QTest::newRow("texto, one")  << QStringList{"--ie", "0623079040081"}          << 2;
  QTest::newRow("json")        << QStringList{"--formato", "json"}               << 3;
  QTest::newRow("json, one")   << QStringList{"--formato", "json", "--ie", "0623079040162"} << 1;
  QTest::newRow("csv")         << QStringList{"--formato", "csv", "--ie", "0623079040081"} << 2;
  QTest::newRow("no such ie")  << QStringList{"--ie", "1"}                       << 0;
  // clang-format on
}

void TstEnvios::commandLineFormats() {
  QFETCH(QStringList, args);
  QFETCH(int, rows);
  int status = -1;
  const QByteArray out = cli(app_->path(), args, &status);
  QCOMPARE(status, 0);
  LocalDatabase::Connection db;
  const QString ie = args.contains("--ie") ? args[args.indexOf("--ie") + 1] : QString();
  const QList<DeliveryStore::Delivery> expected = DeliveryStore::list(db, ie);
  QCOMPARE(expected.size(), rows);
  if (args.contains("json")) {
    const QJsonArray a = QJsonDocument::fromJson(out).array();
    QCOMPARE(a.size(), rows);
    for (int i = 0; i < rows; ++i) {
      QCOMPARE(a[i].toObject().value("sha256").toString(), expected[i].sha256);
      QCOMPARE(a[i].toObject().value("tamanho").toInteger(), expected[i].tamanho);
      QCOMPARE(a[i].toObject().value("protocolos").toString(), expected[i].protocolos);
    }
  } else if (args.contains("csv")) {
    const QList<QStringList> csv = readCsv(QString::fromUtf8(out));
    QCOMPARE(csv.size(), rows + 1);
    for (int i = 0; i < rows; ++i) QCOMPARE(csv[i + 1].value(csv[0].indexOf("SHA-256")), expected[i].sha256);
  } else {
    const QString text = QString::fromUtf8(out);
    QCOMPARE(text.count("SHA-256: "), rows);
    if (rows == 0) QCOMPARE(text, QString("Nenhum envio registrado.\n"));
    // Newest first, as in the window.
    for (int i = 1; i < rows; ++i)
      QVERIFY(text.indexOf("SHA-256: " + expected[i - 1].sha256) < text.indexOf("SHA-256: " + expected[i].sha256));
  }
}

QTEST_MAIN(TstEnvios)
#include "tst_envios.moc"
