#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include "gui/main/principal.h"
#include "registry/session.h"
#include "support/cannedserver.h"
#include "support/recorder.h"
#include "support/testenv.h"

// The main window's refresh, list and receipts, against answers scripted to the character.
namespace {
const QString kDown = "O Servidor está indisponivel, tente novamente mais tarde.";
const QString kDownAccent = "O Servidor está indisponível, tente novamente mais tarde.";

QString ver2(const QString& rows, const QString& date = "01/12/2026 10:00:00", const QString& year = "2026/2027",
             const QString& version = "1.15.01") {
  return "<listaTransferencias dataServ=\"" + date + "\" anoT=\"" + year + "\" versao=\"" + version.leftJustified(20) +
         "\">" + rows + "</listaTransferencias>";
}
QString row(const QString& ref, const QString& prot, const QString& status) {
  return "<transferencia><referencia>" + ref + "</referencia><data>05/12/2026 09:00:00</data><protocolo>" + prot +
         "</protocolo><status>" + status + "</status><adicionado>100,00</adicionado></transferencia>";
}
}  // namespace

class TstRefresh : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TestAppFolder> app;
  std::unique_ptr<CannedServer> server;
  std::unique_ptr<Recorder> rec;
  Principal* p = nullptr;
  QTableWidget* grid() { return p->findChild<QTableWidget*>("GridTransmissoes"); }
  QLabel* label(const char* n) { return p->findChild<QLabel*>(n); }
  bool frameShown() { return p->findChild<QGroupBox*>("frmImportacao")->isVisible(); }
  void refreshWith(const QString& result) {
    server->answer(CannedServer::envelope("Transferencia.ver2", result));
    p->RecebeDadosServer();
  }

 private slots:
  void init() {
    app = std::make_unique<TestAppFolder>();
    server = std::make_unique<CannedServer>();
    rec = std::make_unique<Recorder>();
    app->writeSettings("127.0.0.1", QString::number(server->port()));
    app->write("info.dip", "1.15.01");
    p = Forms::get<Principal>();
    p->show();
    p->setSelectedTaxpayer("0623079040081", "Empresa A", "KEY1");
  }
  void cleanup() {
    Forms::unloadAll();
    rec.reset();
    server.reset();
    app.reset();
  }

  void listsTransmissionsAndKeepsServerValues() {
    refreshWith(ver2(row("01/2026", "P1", "1") + row("02/2026", "P2", "2")));
    QVERIFY2(rec->messages.isEmpty(), qPrintable(rec->texts().join('|')));
    QCOMPARE(server->requests.size(), 1);
    const auto& req = server->requests[0];
    QVERIFY(req.head.startsWith("POST /ovu/server/index_zide.php?wsdl HTTP/1.1"));
    QVERIFY(
        req.body.contains("<Transferencia.ver2 xmlns=\"\"><strNome>0623079040081</strNome>"
                          "<strDiretorioDestino>vbs</strDiretorioDestino><Chave>KEY1</Chave></Transferencia.ver2>"));
    QCOMPARE(grid()->rowCount(), 3);
    QCOMPARE(grid()->item(1, 0)->text(), QString("01/2026"));
    QCOMPARE(grid()->item(2, 2)->text(), QString("P2"));
    QCOMPARE(grid()->item(2, 4)->text(), QString("100,00"));
    QCOMPARE(Session::current().serverDate(), QDateTime(QDate(2026, 12, 1), QTime(10, 0)));
    QCOMPARE(Session::current().workingYear(), QString("2026/2027"));
    QVERIFY(label("lblAtualizado")->isVisible());
    QVERIFY(!label("lblnovaatualizacao")->isVisible());
    QVERIFY(p->findChild<QPushButton*>("Command1")->isEnabled());
    QVERIFY(p->findChild<QTreeWidget*>("tvwPessoa")->isHidden());

    // The same answer twice leaves the same state.
    refreshWith(ver2(row("01/2026", "P1", "1") + row("02/2026", "P2", "2")));
    QVERIFY(rec->messages.isEmpty());
    QCOMPARE(grid()->rowCount(), 3);
    QVERIFY(label("lblAtualizado")->isVisible());
    QCOMPARE(Session::current().workingYear(), QString("2026/2027"));
  }

  void newVersionAndTheVersionFile() {
    refreshWith(ver2(row("01/2026", "P1", "1"), "2026-12-01 10:00:00", "2026/2027", "1.16.00"));
    QVERIFY(!label("lblAtualizado")->isVisible());
    QVERIFY(label("lblnovaatualizacao")->isVisible());
    QCOMPARE(label("lblnovaatualizacao")->text(),
             QString("Nova atualização disponível para download - versão 1.16.00") + QString(13, ' '));
    QCOMPARE(Session::current().serverDate(), QDateTime(QDate(2026, 12, 1), QTime(10, 0)));
    // A version file ending in a line break is current only when the answer has the same break.
    app->write("info.dip", "1.15.01\r\n");
    refreshWith(ver2(row("01/2026", "P1", "1")));
    QVERIFY(label("lblnovaatualizacao")->isVisible());
    refreshWith(ver2(row("01/2026", "P1", "1")) + "<!-- 1.15.01\r\n -->");
    QVERIFY(label("lblAtualizado")->isVisible());
    // An unreadable version file is not a crash: the list fills and the program counts as not current.
    QFile::remove(app->file("info.dip"));
    QDir(app->path()).mkdir("info.dip");
    refreshWith(ver2(row("01/2026", "P1", "1") + row("02/2026", "P1", "1")));
    QVERIFY(rec->messages.isEmpty());
    QCOMPARE(grid()->rowCount(), 3);
    QVERIFY(label("lblnovaatualizacao")->isVisible());
  }

  void invalidKeyMarkers() {
    refreshWith(ver2(row("01/2026", "P1", "1")));
    QCOMPARE(grid()->rowCount(), 2);
    // Written in lower case with blanks: "Chave inválida", the rows stay; the answer holds no
    // "CHAVE_I", so the short text then fails as a date.
    rec->clear();
    refreshWith("  chave_invalida  ");
    QCOMPARE(rec->texts(), QStringList({"Chave inválida", kDown}));
    QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
    QCOMPARE(grid()->rowCount(), 2);
    QVERIFY(!p->findChild<QPushButton*>("Command1")->isEnabled());
    QCOMPARE(p->selectedIE(), QString("0623079040081"));

    // The exact marker: the selection is cleared, the version labels stay as they were.
    rec->clear();
    refreshWith("CHAVE_INVALIDA");
    QCOMPARE(rec->texts(), QStringList({"Chave inválida"}));
    QCOMPARE(grid()->rowCount(), 2);
    QCOMPARE(p->selectedIE(), QString());
    QCOMPARE(p->selectedRazaoSocial(), QString());
    QCOMPARE(p->selectedChave(), QString());
    QVERIFY(!frameShown());
    QVERIFY(!p->findChild<QPushButton*>("Command1")->isVisible());
    QVERIFY(!label("lblAtualizado")->isHidden());
  }

  void accessRefusedEmptiesTheList() {
    refreshWith(ver2(row("01/2026", "P1", "1")));
    rec->clear();
    refreshWith("CHAVE_INVALIDA.");
    QCOMPARE(rec->texts(), QStringList({"Acesso não autorizado"}));
    QCOMPARE(rec->messages[0].icon, QMessageBox::Information);
    QCOMPARE(grid()->rowCount(), 1);
    QCOMPARE(p->selectedIE(), QString());
    QVERIFY(!frameShown());
  }

  void emptyListEnablesTransmitting() {
    refreshWith("CHAVE_INVALIDA");
    p->setSelectedTaxpayer("0623079040081", "Empresa A", "KEY1");
    rec->clear();
    refreshWith(ver2(QString()));
    QVERIFY(rec->messages.isEmpty());
    QCOMPARE(grid()->rowCount(), 1);
    QVERIFY(p->findChild<QPushButton*>("Command1")->isEnabled());
    QVERIFY(p->findChild<QPushButton*>("Command1")->isVisible());
  }

  void unreadableAnswers() {
    refreshWith(ver2(row("01/2026", "P1", "1")));
    rec->clear();
    // Not a list: the list is emptied and the refresh reports the failure.
    refreshWith("<listaTransferencias><transferencia>");
    QCOMPARE(rec->texts(), QStringList({kDown}));
    QCOMPARE(grid()->rowCount(), 1);
    // A well-formed list with a date that is no date.
    rec->clear();
    refreshWith(ver2(row("01/2026", "P1", "1"), "31/31/2026 99:00:00"));
    QCOMPARE(rec->texts(), QStringList({kDown}));
    QCOMPARE(grid()->rowCount(), 2);  // the list filled before the date failed stays
    // No "return" in the answer.
    rec->clear();
    server->answer("<html><body>500 Internal Server Error</body></html>");
    p->RecebeDadosServer();
    QCOMPARE(rec->texts(), QStringList({kDown}));
    QCOMPARE(p->selectedIE(), QString("0623079040081"));
  }

  void serverDownKeepsTheWindowUsable() {
    refreshWith(ver2(row("01/2026", "P1", "1")));
    rec->clear();
    const quint16 port = server->port();
    server.reset();  // nobody listens on the port any more
    app->writeSettings("127.0.0.1", QString::number(port));
    p->RecebeDadosServer();
    QCOMPARE(rec->texts(), QStringList({kDown}));
    QVERIFY(p->isEnabled());
    QCOMPARE(grid()->rowCount(), 2);
    QCOMPARE(p->selectedIE(), QString("0623079040081"));
  }

  void clickingRows() {
    refreshWith(ver2(row("01/2026", "P1", "1") + row("02/2026", "P2", "2") + row("03/2026", "P3", "") +
                     row("04/2026", "P4", "x") + row("05/2026", "P5", "7")));
    rec->clear();
    const int before = server->requests.size();
    // The header row never contacts the server.
    grid()->setCurrentCell(0, 0);
    p->GridTransmissoes_Click();
    QCOMPARE(server->requests.size(), before);
    QVERIFY(rec->messages.isEmpty());

    grid()->setCurrentCell(1, 0);
    p->GridTransmissoes_Click();
    QVERIFY(label("labelOK")->isVisible());
    QVERIFY(!p->findChild<QTreeWidget*>("tvwPessoa")->isVisible());
    QCOMPARE(server->requests.size(), before);

    server->answer(CannedServer::envelope(
        "Transferencia.ver", "<apuracao><item PROTOCOLO=\"P2\"><DETALHE>Sem divergências</DETALHE></item></apuracao>"));
    grid()->setCurrentCell(2, 0);
    p->GridTransmissoes_Click();
    QVERIFY(rec->messages.isEmpty());
    QCOMPARE(server->requests.size(), before + 1);
    QVERIFY(server->requests.last().head.contains("SOAPAction: Transferencia.ver"));
    QVERIFY(server->requests.last().body.contains("<strNome>P2</strNome>"));
    QVERIFY(!label("labelOK")->isVisible());
    auto* tree = p->findChild<QTreeWidget*>("tvwPessoa");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("apuracao"));
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("DIZIZ : Sem divergências"));
    QVERIFY(p->protocoloXml().startsWith("<apuracao>"));
    QCOMPARE(p->protocoloLen(), p->protocoloXml().size());

    // Details that are not well-formed: the parser's reason, nothing else.
    server->answer(CannedServer::envelope("Transferencia.ver", "<apuracao>"));
    p->GridTransmissoes_Click();
    QCOMPARE(rec->messages.size(), 1);
    QVERIFY(!rec->lastText().isEmpty());
    QVERIFY(rec->lastText() != kDownAccent);

    for (int r : {3, 4}) {  // empty and non-numeric status
      rec->clear();
      grid()->setCurrentCell(r, 0);
      p->GridTransmissoes_Click();
      QCOMPARE(rec->texts(), QStringList({kDownAccent}));
    }
    rec->clear();
    const int n = server->requests.size();
    grid()->setCurrentCell(5, 0);  // another number: nothing
    p->GridTransmissoes_Click();
    QVERIFY(rec->messages.isEmpty());
    QCOMPARE(server->requests.size(), n);
  }

  // The command line reads the same answers through the same routine: same messages, and its exit
  // code says what the window does (0 lists, 3 refuses the key, 4 finds the server unavailable).
  void windowAndCommandLineAgree_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("rows");
    auto env = [](const QString& result) { return CannedServer::envelope("Transferencia.ver2", result); };
    // clang-format off
    QTest::newRow("invalid key")   << env("CHAVE_INVALIDA")          << QStringList{"Chave inválida"}        << 3 << -1;
    QTest::newRow("lower case")    << env(" chave_invalida ")        << QStringList{"Chave inválida", kDown} << 4 << -1;
    QTest::newRow("refused")       << env("CHAVE_INVALIDA.")         << QStringList{"Acesso não autorizado"} << 3 << 0;
    QTest::newRow("unknown company") << env("NAO_AUTORIZADO")        << QStringList{kDown}                   << 4 << 0;
    QTest::newRow("garbage")       << QByteArray("<html>500</html>") << QStringList{kDown}                   << 4 << -1;
    QTest::newRow("bad date")      << env(ver2(row("01/2026", "P1", "1"), "ontem")) << QStringList{kDown}    << 4 << 1;
    QTest::newRow("empty list")    << env(ver2(QString()))           << QStringList{}                        << 0 << 0;
    QTest::newRow("rows")          << env(ver2(row("01/2026", "P1", "1") + row("02/2026", "P2", "2")))
                                   << QStringList{}                                                          << 0 << 2;
    // clang-format on
  }
  void windowAndCommandLineAgree() {
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, messages);
    QFETCH(int, exitCode);
    QFETCH(int, rows);
    // A list the answer may keep or replace.
    refreshWith(ver2(row("09/2025", "P0", "1")));
    rec->clear();
    server->answer(answer);
    p->RecebeDadosServer();
    QCOMPARE(rec->texts(), messages);
    QCOMPARE(grid()->rowCount() - 1, rows < 0 ? 1 : rows);

    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZIDE_HOME", app->path());
    cli.setProcessEnvironment(env);
    // The canned server answers from this thread: wait with the event loop running.
    cli.start(builtProgram("zide-cli"), {"transmissoes", "0623079040081", "KEY1"});
    QVERIFY(cli.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 30000);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    const QStringList out = QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(cli.exitCode(), exitCode);
    QCOMPARE(err.split('\n', Qt::SkipEmptyParts), messages);
    if (exitCode == 0) QCOMPARE(out.size() - 3, rows);  // date, year and version lines, then the list
    else QVERIFY(out.isEmpty());
  }

  void receipts() {
    refreshWith(ver2(row("01 / 2026", "P1", "1")));
    rec->clear();
    grid()->setCurrentCell(0, 0);
    p->cmd_Impressao_Click();
    QCOMPARE(rec->texts(), QStringList({"Selecione uma entrega específica"}));
    QVERIFY(rec->openedUrls.isEmpty());
    grid()->setCurrentCell(1, 0);
    p->cmd_Impressao_Click();
    QCOMPARE(rec->openedUrls.size(), 1);
    QCOMPARE(rec->openedUrls[0].toString(),
             QString("http://127.0.0.1/protocoloDown.php?IE=0623079040081&key=KEY1&ref=01/2026"));
    // OpenBrowser puts the scheme in front when missing and reports the browser's result.
    rec->browserResult = false;
    QVERIFY(!p->OpenBrowser("exemplo.com/x"));
    QCOMPARE(rec->openedUrls.last().toString(), QString("http://exemplo.com/x"));
    rec->browserResult = true;
    QVERIFY(p->OpenBrowser("HTTPS://exemplo.com"));
    QCOMPARE(rec->openedUrls.last().toString(), QString("https://exemplo.com"));

    // No browser could be opened: the address is shown, so the user can copy it.
    rec->clear();
    rec->browserResult = false;
    p->cmd_Impressao_Click();
    QCOMPARE(rec->messages.size(), 1);
    QVERIFY(rec->lastText().startsWith("Não foi possível abrir o navegador."));
    QVERIFY(rec->lastText().endsWith("http://127.0.0.1/protocoloDown.php?IE=0623079040081&key=KEY1&ref=01/2026"));
    rec->browserResult = true;
  }
};

QTEST_MAIN(TstRefresh)
#include "tst_refresh.moc"
