#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWindow>
#include <QtTest>

#include "gui/main/abertura.h"
#include "gui/main/frmsobre.h"
#include "gui/main/principal.h"
#include "gui/registry/frmatualizarcontribuinte.h"
#include "gui/registry/frmcontador.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/registry/frmexclusaocontribuinte.h"
#include "gui/registry/frmselecionacontribuinte.h"
#include "gui/transmission/frmupload.h"
#include "gui/transmission/frmuploadsimples.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "gui/widgets/portuguese.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "support/formdriver.h"
#include "support/recorder.h"
#include "support/shownwhole.h"
#include "support/testenv.h"

namespace {
using FormDriver::settle;

void addAccountant() {
  LocalDatabase::Connection db;
  db.exec(
      "Insert into tblContador (cont_cpf_cnpj, cont_num_crc, cont_razao_nome, cont_nom_endereco, cont_num_predial, "
      "cont_dsc_complemento, cont_nom_bairro, cont_nom_cidade, cont_nom_estado, cont_num_telefone, cont_num_cep, "
      "cont_email) values ('123.456.789-09','','Contador','Rua','1','','Centro','Tavarel','MG','(31) 3456-7800',"
      "'35000-000','c@x.com')");
}

void addTaxpayer(const QString& ie, const QString& optante) {
  LocalDatabase::Connection db;
  db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values ('" + SqlQuote(ie) +
          "','Empresa','11.222.333/0001-81','4711-3/02','CH','1'," + optante + ")");
}

QAction* action(QWidget* w, const char* name) { return w->findChild<QAction*>(QString::fromLatin1(name)); }
}  // namespace

class TstMainWindow : public QObject {
  Q_OBJECT
 private slots:
  void cleanup();
  void openingWindow();
  void openingWindowAbout();
  void openingWindowExit();
  void mainWindowInitialState();
  void menusAndShortcuts();
  void selectingShowsTheFrame();
  void sessionDrivesTheMainWindow();
  void transmitWithoutAccountant();
  void transmitChoosesTheWindow_data();
  void transmitChoosesTheWindow();
  void transmitTwiceAddsTheYearOnce();
  void transmitWithUnknownTaxpayerOrCorruptDatabase();
  void newTaxpayerNeedsAnAccountant();
  void aboutFromTheMenu();
  void helpMessage();
  void closingTheMainWindowEndsTheProgram();
  void exitThroughTheMenuInARunningProgram();
  void portugueseEverywhere();
  void formsAreTransientChildrenCentred();
  void guidanceForANewUser();
  void gridHeadersShowWholeAndStayPlain();
  void fileDialogColumnTitlesShowWhole();
  void menusFromTheKeyboard_data();
  void menusFromTheKeyboard();
  void clickedTransmissionMovesNoButton();
  void secondPressBringsTheWindowForward_data();
  void secondPressBringsTheWindowForward();
};

void TstMainWindow::cleanup() {
  Forms::unloadAll();
  Forms::resetProgramEnded();
  settle();
}

void TstMainWindow::openingWindow() {
  Abertura* a = Forms::get<Abertura>();
  a->show();
  QCOMPARE(a->windowTitle(), QString("ZIDE - Prefeitura Municipal de Tavarel- Versão 1.15.01"));
  QCOMPARE(a->findChild<QLabel*>("Label4")->text(), QString("Prefeitura Municipal de Tavarel"));
  QVERIFY(a->findChild<QLabel*>("Label1")->text().startsWith("Este software valida e transmite arquivos"));
  a->findChild<QPushButton*>("Command1")->click();
  settle();
  QVERIFY(!Forms::find<Abertura>());
  Principal* p = Forms::find<Principal>();
  QVERIFY(p && p->isVisible() && p->isEnabled());
}

void TstMainWindow::openingWindowAbout() {
  Forms::get<Abertura>()->show();
  Forms::find<Abertura>()->findChild<QPushButton*>("Command2")->click();
  settle();
  QVERIFY(!Forms::find<Abertura>());
  FrmSobre* s = Forms::find<FrmSobre>();
  QVERIFY(s && s->isVisible());
  QVERIFY(!Forms::find<Principal>());
  QCOMPARE(s->windowTitle(), QString("ZIDE - Prefeitura Municipal de Tavarel"));
  QVERIFY(s->findChild<QLabel*>("lblTitle")->text().endsWith(" 1.14.01"));
  QVERIFY(s->findChild<QLabel*>("Label2")->text().startsWith("Contato: "));
  QVERIFY(s->findChild<QLabel*>("Label2")->text().contains(" - E-mail: "));
  s->findChild<QPushButton*>("cmdOK")->click();
  settle();
  QVERIFY(!Forms::find<FrmSobre>());
  QVERIFY(!Forms::find<Abertura>());
  Principal* p = Forms::find<Principal>();
  QVERIFY(p && p->isVisible() && p->isEnabled());
}

void TstMainWindow::openingWindowExit() {
  Forms::get<Abertura>()->show();
  Forms::find<Abertura>()->findChild<QPushButton*>("Command3")->click();
  QVERIFY(Forms::programEnded());
  QVERIFY(!Forms::find<Abertura>());
}

void TstMainWindow::mainWindowInitialState() {
  TestAppFolder app;
  Principal* p = Forms::get<Principal>();
  p->show();
  QCOMPARE(p->windowTitle(), QString("ZIDE - Débito e Crédito - Prefeitura Municipal de Tavarel - Versão 1.15.01"));
  QVERIFY(!p->findChild<QPushButton*>("Command1")->isVisible());
  QVERIFY(!p->findChild<QGroupBox*>("frmImportacao")->isVisible());
  QVERIFY(p->findChild<QGroupBox*>("GIASelecionada")->isVisible());
  QVERIFY(p->findChild<QLabel*>("Picture1")->isVisible());
  QCOMPARE(p->findChild<QLabel*>("IESel")->text(), QString());
  QCOMPARE(p->findChild<QLabel*>("RSSel")->text(), QString());
  QVERIFY(p->findChild<QLabel*>("lblChave")->isHidden());
  QCOMPARE(p->findChild<QLabel*>("lblChave")->text(), QString("LABEL DA CHAVE!"));
  auto* grid = p->findChild<QTableWidget*>("GridTransmissoes");
  QCOMPARE(grid->columnCount(), 5);
  QCOMPARE(grid->rowCount(), 1);
  const QStringList headers = {"Referência", "Data de Processamento", "Protocolo", "Status", "Valor Adicionado"};
  for (int c = 0; c < 5; ++c) QCOMPARE(grid->item(0, c)->text(), headers[c]);
  // The described widths are a minimum: a title in bold may need more.
  QCOMPARE(grid->columnWidth(0), 100);
  QVERIFY(grid->columnWidth(1) >= 166);
  QVERIFY(grid->isColumnHidden(3));
  QVERIFY(grid->isColumnHidden(4));
  QVERIFY(p->findChild<QPushButton*>("Command3")->isHidden());
  QVERIFY(!p->findChild<QLabel*>("lblAtualizado")->isHidden());
  QVERIFY(p->findChild<QLabel*>("lblnovaatualizacao")->isHidden());
  QVERIFY(p->findChild<QLabel*>("labelOK")->isHidden());
  QVERIFY(p->findChild<QLabel*>("PathMDB")->isHidden());
  // Nothing was read or written at start.
  QVERIFY(!QFile::exists(app.file("diziz.db")));
}

void TstMainWindow::menusAndShortcuts() {
  TestAppFolder app;  // the list windows read the registry when they open
  Principal* p = Forms::get<Principal>();
  const QList<QPair<const char*, QKeySequence>> keys = {{"mnSAjuda", QKeySequence(Qt::Key_F1)},
                                                        {"mnContribuinteNovo", QKeySequence(Qt::Key_F2)},
                                                        {"mnContribuinteSelecionar", QKeySequence(Qt::Key_F5)},
                                                        {"mnContador", QKeySequence(Qt::Key_F6)},
                                                        {"mnAtualizar", QKeySequence(Qt::Key_F8)}};
  for (const auto& k : keys) QCOMPARE(action(p, k.first)->shortcut(), k.second);
  QVERIFY(action(p, "mnSair") && action(p, "mnExcluir") && action(p, "mnSobre") && action(p, "space2"));
  QVERIFY(action(p, "space2")->isSeparator());

  action(p, "mnContribuinteSelecionar")->trigger();
  QVERIFY(!p->isEnabled());
  QVERIFY(Forms::find<FrmSelecionaContribuinte>()->isVisible());
  action(p, "mnAtualizar")->trigger();
  QVERIFY(Forms::find<FrmAtualizarContribuinte>()->isVisible());
  action(p, "mnExcluir")->trigger();
  QVERIFY(Forms::find<FrmExclusaoContribuinte>()->isVisible());
  action(p, "mnContador")->trigger();
  QVERIFY(Forms::find<FrmContador>()->isVisible());
  action(p, "mnSair")->trigger();
  QVERIFY(Forms::programEnded());
}

void TstMainWindow::selectingShowsTheFrame() {
  Principal* p = Forms::get<Principal>();
  p->show();
  p->setSelectedTaxpayer("0623079040081", "Empresa A", "KEY1");
  QVERIFY(p->findChild<QPushButton*>("Command1")->isVisible());
  QVERIFY(p->findChild<QGroupBox*>("frmImportacao")->isVisible());
  QCOMPARE(p->selectedIE(), QString("0623079040081"));
  QCOMPARE(p->findChild<QLabel*>("RSSel")->text(), QString("Empresa A"));
  QCOMPARE(p->selectedChave(), QString("KEY1"));
  QVERIFY(p->findChild<QLabel*>("lblChave")->isHidden());
}

void TstMainWindow::sessionDrivesTheMainWindow() {
  Principal* p = Forms::get<Principal>();
  p->show();
  Session& s = Session::current();
  auto label = [p](const char* name) { return p->findChild<QLabel*>(name)->text(); };

  // A selection made anywhere (here: straight on the session) reaches the labels and the frame.
  QSignalSpy changed(&s, &Session::changed);
  s.selectTaxpayer({"0623079040162", "Empresa B", "KEY2"});
  QCOMPARE(label("IESel"), QString("0623079040162"));
  QCOMPARE(label("RSSel"), QString("Empresa B"));
  QCOMPARE(label("lblChave"), QString("KEY2"));
  QVERIFY(p->findChild<QPushButton*>("Command1")->isVisible());
  QVERIFY(changed.count() >= 1);

  // Forgetting the taxpayer empties the labels; an unchanged value signals nothing.
  s.clearTaxpayer();
  QCOMPARE(label("IESel"), QString());
  QCOMPARE(label("lblChave"), QString());
  changed.clear();
  s.clearTaxpayer();
  s.setWorkingYear(s.workingYear());
  QCOMPARE(changed.count(), 0);

  // The last declaration file is kept in the hidden PathMDB caption.
  s.setLastDeclarationFile("/tmp/ZIDE.GDB");
  QCOMPARE(label("PathMDB"), QString("/tmp/ZIDE.GDB"));

  // A window that is done releases the main window through the session, never by touching it.
  p->setEnabled(false);
  s.releaseMainWindow();
  QVERIFY(p->isEnabled());
}

void TstMainWindow::transmitWithoutAccountant() {
  TestAppFolder app;
  Recorder rec;
  addTaxpayer("0623079040081", "0");
  Principal* p = Forms::get<Principal>();
  p->show();
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  for (int i = 0; i < 2; ++i) {
    rec.clear();
    p->findChild<QPushButton*>("Command1")->click();
    QCOMPARE(rec.texts(), QStringList{"É necessário informar os dados do contador para envio da declaração"});
    QCOMPARE(rec.messages[0].title, QString("DUZO - Zaruvo r Azurera - RO"));
    QCOMPARE(rec.messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(Forms::find<FrmContador>() && Forms::find<FrmContador>()->isVisible());
    QVERIFY(!Forms::find<FrmUpload>());
    QVERIFY(!Forms::find<FrmUploadSimples>());
  }
}

void TstMainWindow::transmitChoosesTheWindow_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("optante");
  QTest::addColumn<bool>("simples");
  QTest::newRow("debito e credito") << "0" << false;
  QTest::newRow("simples") << "-1" << true;
  QTest::newRow("null") << "NULL" << true;
  // clang-format on
}

void TstMainWindow::transmitChoosesTheWindow() {
  QFETCH(QString, optante);
  QFETCH(bool, simples);
  TestAppFolder app;
  Recorder rec;
  addAccountant();
  addTaxpayer("0623079040081", optante);
  Principal* p = Forms::get<Principal>();
  p->show();
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  p->findChild<QPushButton*>("Command1")->click();
  QCOMPARE(Session::current().accountantDocument(), QString("123.456.789-09"));
  QCOMPARE(rec.texts(),
           QStringList{"O Certificado que será solicitado durante a transmissão é do contador responsável"});
  QCOMPARE(rec.messages[0].title, QString("Informação"));
  QCOMPARE(rec.messages[0].icon, QMessageBox::Information);
  if (simples) {
    QVERIFY(Forms::find<FrmUploadSimples>() && Forms::find<FrmUploadSimples>()->isVisible());
    QVERIFY(!Forms::find<FrmUpload>());
    QVERIFY(p->isEnabled());
  } else {
    QVERIFY(Forms::find<FrmUpload>() && Forms::find<FrmUpload>()->isVisible());
    QVERIFY(!Forms::find<FrmUploadSimples>());
    QVERIFY(!p->isEnabled());
  }
}

void TstMainWindow::transmitTwiceAddsTheYearOnce() {
  TestAppFolder app;
  Recorder rec;
  addAccountant();
  addTaxpayer("0623079040081", "-1");
  Principal* p = Forms::get<Principal>();
  p->show();
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  // An empty working year counts as contained: the caption stays as it is.
  p->Command1_Click();
  const QString base = Forms::find<FrmUploadSimples>()->windowTitle();
  QCOMPARE(base, QString("Selecione o arquivo PDF - Declaração - SIMPLES NACIONAL - Prefeitura Municipal de Tavarel"));
  Session::current().setWorkingYear("2025/2026");
  p->Command1_Click();
  p->Command1_Click();
  QCOMPARE(Forms::find<FrmUploadSimples>()->windowTitle(), base + " - Ano trabalho: 2025/2026");
}

void TstMainWindow::transmitWithUnknownTaxpayerOrCorruptDatabase() {
  TestAppFolder app;
  Recorder rec;
  addAccountant();
  Principal* p = Forms::get<Principal>();
  p->show();
  // An IE with an apostrophe that is not registered: a report, never a broken statement.
  p->setSelectedTaxpayer("06'23", "Empresa", "CH");
  p->Command1_Click();
  QCOMPARE(rec.messages.size(), 2);
  QVERIFY(rec.messages[1].text.startsWith("\r\nVB Error # "));
  QVERIFY(!Forms::find<FrmUpload>() && !Forms::find<FrmUploadSimples>());
  QVERIFY(p->isEnabled());

  rec.clear();
  app.write("diziz.db", QByteArray(8192, '\x7f'));
  p->Command1_Click();
  QCOMPARE(rec.messages.size(), 1);
  QVERIFY(rec.lastText().startsWith("\r\nVB Error #  26\r\n   Generated by SQLite\r\n   Description  "));
  rec.clear();
  p->mnContribuinteNovo_Click();
  QCOMPARE(rec.messages.size(), 1);
  QVERIFY(rec.lastText().startsWith("\r\nVB Error # "));
  QVERIFY(p->isEnabled());
}

void TstMainWindow::newTaxpayerNeedsAnAccountant() {
  TestAppFolder app;
  Recorder rec;
  Principal* p = Forms::get<Principal>();
  p->show();
  action(p, "mnContribuinteNovo")->trigger();
  QCOMPARE(rec.texts(), QStringList{"É necessário cadastrar um contador antes de Cadastrar seu(s) Contribuinte(s)."});
  QCOMPARE(rec.messages[0].title, kAppTitle);
  QVERIFY(Forms::find<FrmContador>() && Forms::find<FrmContador>()->isVisible());
  QVERIFY(!Forms::find<FrmCriaContribuinte>());
  // The accountant window gives the main window back when it loads.
  QVERIFY(p->isEnabled());
  Forms::find<FrmContador>()->close();
  settle();

  rec.clear();
  addAccountant();
  action(p, "mnContribuinteNovo")->trigger();
  QVERIFY(rec.messages.isEmpty());
  QVERIFY(Forms::find<FrmCriaContribuinte>() && Forms::find<FrmCriaContribuinte>()->isVisible());
  QVERIFY(!Forms::find<FrmContador>());
}

void TstMainWindow::aboutFromTheMenu() {
  Principal* p = Forms::get<Principal>();
  p->show();
  action(p, "mnSobre")->trigger();
  QVERIFY(!p->isEnabled());
  FrmSobre* s = Forms::find<FrmSobre>();
  QVERIFY(s && s->isVisible());
  s->close();  // the title bar's close button
  settle();
  QVERIFY(p->isEnabled());
  QVERIFY(!Forms::find<FrmSobre>());
  QCOMPARE(Forms::find<Principal>(), p);
  action(p, "mnSobre")->trigger();
  Forms::find<FrmSobre>()->findChild<QPushButton*>("cmdOK")->click();
  settle();
  QVERIFY(p->isEnabled() && p->isVisible());
}

void TstMainWindow::helpMessage() {
  Recorder rec;
  Principal* p = Forms::get<Principal>();
  action(p, "mnSAjuda")->trigger();
  QCOMPARE(rec.messages.size(), 1);
  QVERIFY(rec.lastText().startsWith("Para maiores infomações acesse: http"));
  QCOMPARE(rec.messages[0].icon, QMessageBox::Information);
  QCOMPARE(rec.messages[0].title, QString("DUZO - Zaruvo r Azurera - RO"));
}

void TstMainWindow::closingTheMainWindowEndsTheProgram() {
  // Runs the real event loop: closing the main window, with no other window, must end it.
  Principal* p = Forms::get<Principal>();
  p->show();
  QTimer::singleShot(0, p, [p] { p->close(); });
  bool timedOut = false;
  QTimer guard;
  guard.setSingleShot(true);
  connect(&guard, &QTimer::timeout, [&] {
    timedOut = true;
    QCoreApplication::exit(1);
  });
  guard.start(5000);
  QCOMPARE(QApplication::exec(), 0);
  QVERIFY(!timedOut);
  settle();
  QVERIFY(!Forms::find<Principal>());
}

void TstMainWindow::exitThroughTheMenuInARunningProgram() {
  // "Sair" is triggered from inside the menu, as a click would, while the program runs; the windows
  // must outlive the handler (valgrind runs this function too).
  Principal* p = Forms::get<Principal>();
  p->show();
  Forms::get<FrmSobre>()->show();
  QPointer<Principal> alive(p);
  QTimer::singleShot(0, p, [p] {
    QMenu* arquivo = p->findChild<QMenu*>("mnArquivo");
    QAction* sair = action(p, "mnSair");
    QVERIFY(arquivo && sair);
    arquivo->popup(p->mapToGlobal(QPoint(0, 0)));
    QVERIFY(QTest::qWaitForWindowExposed(arquivo));
    // A real click on the item: QMenu's own release handler is on the stack when the action fires.
    QTest::mouseClick(arquivo, Qt::LeftButton, {}, arquivo->actionGeometry(sair).center());
    QVERIFY(Forms::programEnded());
    QVERIFY(!Forms::find<Principal>());
  });
  QTimer guard;
  guard.setSingleShot(true);
  connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  QCOMPARE(QApplication::exec(), 0);
  settle();
  QVERIFY(!alive);
  QVERIFY(!Forms::find<FrmSobre>());
}

void TstMainWindow::portugueseEverywhere() {
  QVERIFY(UsePortuguese() >= 1);
  const QLocale l;
  QCOMPARE(l.name(), QString("pt_BR"));
  QCOMPARE(l.toString(QDate(2026, 12, 8), QLocale::ShortFormat), QString("08/12/2026"));
  QCOMPARE(l.toString(1234.5, 'f', 2), QString("1.234,50"));
  QVERIFY2(l.formattedDataSize(3994).contains(','), qPrintable(l.formattedDataSize(3994)));
  // The file dialog's own words.
  QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"), QString("Pasta"));
  QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QString("Procurar em:"));
  QLocale::setDefault(QLocale::c());
}

void TstMainWindow::formsAreTransientChildrenCentred() {
  TestAppFolder app;
  Recorder rec;
  Principal* p = Forms::get<Principal>();
  p->setGeometry(200, 150, 820, 560);
  p->show();
  QVERIFY(QTest::qWaitForWindowExposed(p));
  for (const char* menu : {"mnContador", "mnContribuinteSelecionar", "mnAtualizar", "mnSobre"}) {
    action(p, menu)->trigger();
    QCoreApplication::processEvents();
    QWidget* w = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top != p && top->isVisible() && top->isWindow() && !top->inherits("QMenu")) w = top;
    QVERIFY2(w, menu);
    QVERIFY(w->isEnabled());  // usable while the main window waits for it
    QVERIFY(w->isWindow());
    QVERIFY(w->windowHandle() && w->windowHandle()->transientParent() == p->windowHandle());
    const QPoint off = w->frameGeometry().center() - p->frameGeometry().center();
    QVERIFY2(off.manhattanLength() <= 4, qPrintable(QString("%1: %2,%3").arg(menu).arg(off.x()).arg(off.y())));
    w->close();
    settle();
    p->setEnabled(true);
  }
}

void TstMainWindow::guidanceForANewUser() {
  TestAppFolder app;
  Principal* p = Forms::get<Principal>();
  p->show();
  auto* hint = p->findChild<QLabel*>("lblOrientacao");
  QVERIFY(hint && hint->isVisible());
  QCOMPARE(hint->text(), QString("Cadastre o contador: Contribuinte › Contador (F6)"));
  QVERIFY(!QFile::exists(app.file("diziz.db")));  // the hint reads nothing into being

  addAccountant();
  Session::current().releaseMainWindow();  // a registration window closing
  QCOMPARE(hint->text(), QString("Cadastre uma empresa: Contribuinte › Novo (F2)"));

  addTaxpayer("0623079040081", "0");
  Session::current().releaseMainWindow();
  QCOMPARE(hint->text(), QString("Selecione a empresa: Contribuinte › Selecionar (F5)"));

  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  QVERIFY(hint->isHidden());
  // Rows of one company never stand under another's name.
  auto* grid = p->findChild<QTableWidget*>("GridTransmissoes");
  grid->setRowCount(3);
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  QCOMPARE(grid->rowCount(), 3);
  p->setSelectedTaxpayer("0623079040162", "Outra", "CH2");
  QCOMPARE(grid->rowCount(), 1);
  QCOMPARE(grid->item(0, 0)->text(), QString("Referência"));
  Session::current().clearTaxpayer();
  QVERIFY(hint->isVisible());
}

void TstMainWindow::gridHeadersShowWholeAndStayPlain() {
  TestAppFolder app;
  Recorder rec;
  addAccountant();
  Principal* p = Forms::get<Principal>();
  p->resize(800, 600);
  p->show();
  QVERIFY(QTest::qWaitForWindowExposed(p));
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  auto* grid = p->findChild<QTableWidget*>("GridTransmissoes");
  auto* upload = Forms::get<FrmUpload>();
  auto* references = upload->findChild<QTableWidget*>("GridRefencias");
  // Bold titles in columns whose widths were measured for another font.
  for (QTableWidget* g : {grid, references})
    for (int c = 0; c < g->columnCount(); ++c)
      if (!g->isColumnHidden(c)) QVERIFY2(ShownWhole::cell(g, 0, c), qPrintable(g->item(0, c)->text()));
  upload->close();
  settle();

  // A row clicked in one company's list, then another company: the emptied list leaves no cell of
  // the title row current or selected, so none of it is painted as the highlighted one.
  for (int i = 0; i < 3; ++i) AppendGridRow(grid, {"01/2026", "02/02/2026 09:00:00", "2026000001", "1", "0"});
  QCoreApplication::processEvents();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(2, 1)).center());
  QCOMPARE(grid->currentRow(), 2);
  p->setSelectedTaxpayer("0623079040162", "Outra", "CH2");
  QCOMPARE(grid->rowCount(), 1);
  QVERIFY(grid->currentRow() != 0);
  QVERIFY(grid->selectionModel()->selectedIndexes().isEmpty());
  AppendGridRow(grid, {"02/2026", "03/03/2026 10:00:00", "2026000002", "1", "0"});
  QVERIFY(grid->currentRow() != 0);

  // An empty list that takes the focus: Qt makes its first cell, a title, the current one.
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  QCOMPARE(grid->rowCount(), 1);
  grid->setCurrentCell(0, 0);
  QTRY_VERIFY(grid->currentRow() != 0);
  // With rows, the arrow up from the first one stays on it.
  AppendGridRow(grid, {"03/2026", "04/04/2026 10:00:00", "2026000003", "1", "0"});
  grid->setCurrentCell(1, 1);
  QTest::keyClick(grid, Qt::Key_Up);
  QTRY_COMPARE(grid->currentRow(), 1);
}

void TstMainWindow::fileDialogColumnTitlesShowWhole() {
  QVERIFY(UsePortuguese() >= 1);
  // The dates in the program's language, whatever the system's (the tests run under C).
  QTemporaryDir dir;
  QFile file(dir.filePath("declaracao.pdf"));
  QVERIFY(file.open(QIODevice::WriteOnly));
  const QDateTime when(QDate(2026, 12, 9), QTime(14, 30));
  QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
  file.close();
  // Set up as the program's own open dialog is: folder, then dates, then columns, then shown.
  QFileDialog dialog(nullptr, "Abrir", dir.path());
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setViewMode(QFileDialog::Detail);
  ShowDatesInPortuguese(&dialog);
  FitFileDialogColumns(&dialog);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  auto* view = dialog.findChild<QTreeView*>("treeView");
  QVERIFY(view);
  QHeaderView* header = view->header();
  QCOMPARE(header->model()->headerData(3, Qt::Horizontal).toString(), QString("Data de modificação"));
  QCoreApplication::processEvents();
  // Each title whole, and every column inside the view: none cut off at its right edge.
  for (int i = 0; i < header->count(); ++i) {
    const QString title = header->model()->headerData(i, Qt::Horizontal).toString();
    QVERIFY2(ShownWhole::section(header, i), qPrintable(title));
    QVERIFY2(header->sectionViewportPosition(i) + header->sectionSize(i) <= view->viewport()->width(),
             qPrintable(title));
  }
  // The list fills in the background, slowly under the sanitizers: the root is read afresh each time.
  QTRY_COMPARE_WITH_TIMEOUT(view->model()->index(0, 0, view->rootIndex()).data().toString(), QString("declaracao.pdf"),
                            30000);
  QTRY_COMPARE_WITH_TIMEOUT(view->model()->index(0, 3, view->rootIndex()).data().toString(),
                            QString("09/12/2026 14:30"), 30000);
  dialog.close();
  QLocale::setDefault(QLocale::c());
}

void TstMainWindow::menusFromTheKeyboard_data() {
  // clang-format off
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<QString>("menu");
  QTest::newRow("Alt+A")  << int(Qt::Key_A)   << int(Qt::AltModifier) << "mnArquivo";
  QTest::newRow("Alt+C")  << int(Qt::Key_C)   << int(Qt::AltModifier) << "mnContribuinte";
  QTest::newRow("Alt+J")  << int(Qt::Key_J)   << int(Qt::AltModifier) << "mnAjuda";
  QTest::newRow("F10")    << int(Qt::Key_F10) << int(Qt::NoModifier)  << "mnArquivo";
  // clang-format on
}

// The menus open from the keyboard; their captions read as always.
void TstMainWindow::menusFromTheKeyboard() {
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QFETCH(QString, menu);
  TestAppFolder app;
  Principal* p = Forms::get<Principal>();
  p->show();
  QVERIFY(QTest::qWaitForWindowActive(p));
  auto* m = p->findChild<QMenu*>(menu);
  QVERIFY(m);
  QCOMPARE(m->title().remove('&'), QString(menu == "mnArquivo" ? "Arquivo"
                                           : menu == "mnAjuda" ? "Ajuda"
                                                               : "Contribuinte"));
  QTest::keyClick(p, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
  QTRY_COMPARE(QApplication::activePopupWidget(), m);
  QTest::keyClick(m, Qt::Key_Escape);
}

// A click on a transmission shows its status line under the list; the buttons below stay where
// the user aims, and the line goes with the company.
void TstMainWindow::clickedTransmissionMovesNoButton() {
  TestAppFolder app;
  Recorder rec;
  Principal* p = Forms::get<Principal>();
  p->resize(820, 560);
  p->show();
  QVERIFY(QTest::qWaitForWindowExposed(p));
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  auto* grid = p->findChild<QTableWidget*>("GridTransmissoes");
  for (int i = 0; i < 3; ++i) AppendGridRow(grid, {"01/2026", "02/02/2026 09:00:00", "2026000001", "1", "0"});
  auto* button = p->findChild<QPushButton*>("cmd_Impressao");
  auto* status = p->findChild<QLabel*>("labelOK");
  QCoreApplication::processEvents();
  const QPoint before = button->mapTo(p, QPoint());
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(2, 1)).center());
  QCoreApplication::processEvents();
  QVERIFY(status->isVisible());
  QCOMPARE(button->mapTo(p, QPoint()), before);
  p->setSelectedTaxpayer("0623079040162", "Outra", "CH2");
  QVERIFY(status->isHidden());
}

void TstMainWindow::secondPressBringsTheWindowForward_data() {
  QTest::addColumn<QString>("optante");
  QTest::newRow("ZIDE") << "0";
  QTest::newRow("Simples") << "-1";
}

// "Escolher arquivo para transmitir" pressed again while the transmission window is open brings
// it forward, above the main window it belongs to.
void TstMainWindow::secondPressBringsTheWindowForward() {
  QFETCH(QString, optante);
  TestAppFolder app;
  Recorder rec;
  addAccountant();
  addTaxpayer("0623079040081", optante);
  Principal* p = Forms::get<Principal>();
  p->show();
  p->setSelectedTaxpayer("0623079040081", "Empresa", "CH");
  p->Command1_Click();
  QWidget* w = optante == "0" ? static_cast<QWidget*>(Forms::find<FrmUpload>()) : Forms::find<FrmUploadSimples>();
  QVERIFY(w && QTest::qWaitForWindowExposed(w));
  // The main window given back (references listed), then clicked: it is the active one.
  p->setEnabled(true);
  p->activateWindow();
  QTRY_COMPARE(QApplication::activeWindow(), p);
  QTest::mouseClick(p->findChild<QPushButton*>("Command1"), Qt::LeftButton);
  QTRY_COMPARE(QApplication::activeWindow(), w);
  QVERIFY(w->windowHandle()->transientParent() == p->windowHandle());
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The test drives the program's windows; ending the program must not end the test run.
  app.setQuitOnLastWindowClosed(true);
  TstMainWindow t;
  return QTest::qExec(&t, argc, argv);
}
#include "tst_mainwindow.moc"
