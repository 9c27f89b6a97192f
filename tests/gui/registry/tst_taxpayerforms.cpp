#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSqlQuery>
#include <QTableWidget>
#include <QtTest>

#include "gui/main/principal.h"
#include "gui/registry/frmatualizarcontribuinte.h"
#include "gui/registry/frmcadastrocontribuinte.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/registry/frmexclusaocontribuinte.h"
#include "gui/registry/frmselecionacontribuinte.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "support/formdriver.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/shownwhole.h"
#include "support/testenv.h"

using namespace FormDriver;

namespace {
const QString kIE = "0623079040081";   // valid in MG
const QString kIE2 = "0623079040162";  // valid in MG
const QString kCnpj = "11222333000181";

void addTaxpayer(const QString& ie, const QString& razao, const QString& chave, const QString& optante = "0",
                 const QString& ccm = "77") {
  LocalDatabase::Connection db;
  db.exec("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) values (?,?,?,?,?,?," +
              optante + ")",
          {ie, razao, "11.222.333/0001-81", "4711-3/02", chave, ccm});
}

QList<QSqlRecord> stored() {
  LocalDatabase::Connection db;
  return db.query("Select * From tblContribuinte");
}

// Fills the creation or update form with a complete, valid taxpayer.
void fillForm(QWidget* f, const QString& ie = kIE, const QString& razao = "Empresa A") {
  type(f, "txtIE", ie);
  type(f, "txtRazaoSocial", razao);
  type(f, "txtCNPJ", kCnpj);
  type(f, "txtCNAE", "4711302");
  type(f, "Chave", "KEY1");
  type(f, "txtInscMunicipal", "123");
}

QLabel* erroMsg(QWidget* f) { return child<QLabel>(f, "erroMsg"); }
QTableWidget* grid(QWidget* f) { return child<QTableWidget>(f, "GridSelContribuinte"); }
}  // namespace

class TstTaxpayerForms : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TestAppFolder> app;
  std::unique_ptr<Recorder> rec;
  Principal* p = nullptr;

 private slots:
  void init() {
    app = std::make_unique<TestAppFolder>();
    rec = std::make_unique<Recorder>();
    p = Forms::get<Principal>();
    p->show();
  }
  void cleanup() {
    Forms::unloadAll();
    settle();
    rec.reset();
    app.reset();
  }

  void creationFormLayout();
  void createSavesWhatWasTyped();
  void createFieldMessages_data();
  void createFieldMessages();
  void createDuplicateIe();
  void erroMsgHoldsOnlyTheLatestMessage();
  void createWithBrokenDatabase();
  void onlyMovingToAnotherControlIsLeaving();
  void cancelGivesTheMainWindowBack();
  void keyboardChoosesAndCancels();
  void listWindowsShowEveryTaxpayer();
  void updateChoiceFillsTheForm();
  void updateSavesEveryField();
  void updateChecksTheIe();
  void updateOfAnUnregisteredIe();
  void listWindowsWithoutTaxpayers();
  void deleteAsksFirst();
  void listWindowsWithAFailingRegistry();
  void apostropheInNameSurvivesTheRoundTrip();
  void selectingAnEmptyKey();
  void selectingRefreshesTheMainWindow();
  void selectionListOpensOnTheLastCompany();
};

void TstTaxpayerForms::creationFormLayout() {
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  QCOMPARE(f->objectName(), QString("frmtbl_CriaContribuinte"));
  QCOMPARE(f->windowTitle(), QString("Cadastro de Contribuinte - Prefeitura Municipal de Tavarel"));
  QCOMPARE(child<QPushButton>(f, "Command1")->text(), QString("Gerar chave através do Cert. Digital"));
  QCOMPARE(child<QPushButton>(f, "Command2")->text(), QString("Importação de Empresas"));
  QCOMPARE(child<QCheckBox>(f, "flag_optantesimples")->text(), QString("Contribuinte Optante do Simples Nacional"));
  // Empty masked boxes show their blanks.
  QCOMPARE(shown(f, "txtIE"), QString("_____________"));
  QCOMPARE(shown(f, "txtCNPJ"), QString("__.___.___/____-__"));
  QCOMPARE(shown(f, "txtCNAE"), QString("____-_/__"));
  // The accessors reach the same widgets the certificate and import work fill.
  QCOMPARE(f->txtIE(), child(f, "txtIE"));
  QCOMPARE(f->chave(), child(f, "Chave"));
  QCOMPARE(f->flagOptanteSimples(), child<QCheckBox>(f, "flag_optantesimples"));
  QCOMPARE(f->erroMsg(), erroMsg(f));

  auto* u = Forms::get<FrmCadastroContribuinte>();
  QCOMPARE(u->objectName(), QString("frmtbl_CadastroContribuinte"));
  QCOMPARE(u->windowTitle(), QString("Atualização de Contribuinte - Prefeitura Municipal de Tavarel"));
  QVERIFY(!u->findChild<QPushButton*>("Command1"));
}

void TstTaxpayerForms::createSavesWhatWasTyped() {
  p->setEnabled(false);  // as the menu leaves it
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  fillForm(f);
  child<QCheckBox>(f, "flag_optantesimples")->setChecked(true);
  QCOMPARE(shown(f, "txtCNPJ"), QString("11.222.333/0001-81"));
  QCOMPARE(shown(f, "txtCNAE"), QString("4711-3/02"));
  leave(f, "txtIE");
  leave(f, "txtCNPJ");
  QCOMPARE(erroMsg(f)->text(), QString());
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"O contribuinte foi criado!"});
  QCOMPARE(rec->messages[0].title, QString());
  QCOMPARE(rec->messages[0].icon, QMessageBox::NoIcon);
  settle();
  QVERIFY(!Forms::find<FrmCriaContribuinte>());
  QVERIFY(p->isEnabled());
  const auto rows = stored();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("IE").toString(), kIE);
  QCOMPARE(rows[0].value("RazaoSocial").toString(), QString("Empresa A"));
  QCOMPARE(rows[0].value("Cnpj").toString(), QString("11.222.333/0001-81"));
  QCOMPARE(rows[0].value("Cnae").toString(), QString("4711-3/02"));
  QCOMPARE(rows[0].value("Chave").toString(), QString("KEY1"));
  QCOMPARE(rows[0].value("CCM").toString(), QString("123"));
  // The check box is what the user saw, so it is what is stored.
  QCOMPARE(rows[0].value("OptanteSimples").toInt(), -1);
}

void TstTaxpayerForms::createFieldMessages_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("box");
  QTest::addColumn<QString>("keys");
  QTest::addColumn<QString>("message");
  QTest::newRow("ie 12 digits") << QByteArray("txtIE") << "062307904008" << "Inscrição Estadual preenchida incorretamente";
  QTest::newRow("name empty") << QByteArray("txtRazaoSocial") << "" << "Razão Social preenchida incorretamente";
  QTest::newRow("cnpj partly") << QByteArray("txtCNPJ") << "1122233300018" << "CNPJ preenchido incorretamente";
  QTest::newRow("cnpj invalid") << QByteArray("txtCNPJ") << "11222333000182" << "CNPJ preenchido é inválido";
  QTest::newRow("cnae partly") << QByteArray("txtCNAE") << "471130" << "CNAE preenchido incorretamente";
  QTest::newRow("key empty") << QByteArray("Chave") << "" << "Chave não informada";
  // clang-format on
}

void TstTaxpayerForms::createFieldMessages() {
  QFETCH(QByteArray, box);
  QFETCH(QString, keys);
  QFETCH(QString, message);
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  fillForm(f);
  type(f, box.constData(), keys);
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{message});
  QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(rec->messages[0].title, kMsgTitle);
  QVERIFY(Forms::find<FrmCriaContribuinte>()->isVisible());
  QCOMPARE(stored().size(), 0);
}

void TstTaxpayerForms::createDuplicateIe() {
  addTaxpayer(kIE, "Empresa Antiga", "OLD");
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  fillForm(f);
  leave(f, "txtIE");
  QCOMPARE(erroMsg(f)->text(), QString("Contribuinte já cadastrado."));
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"Corrija os erros antes de prosseguir"});
  QCOMPARE(rec->messages[0].title, kAppTitle);
  QCOMPARE(rec->messages[0].icon, QMessageBox::NoIcon);
  // Another IE clears the message on leaving, and then saves.
  type(f, "txtIE", kIE2);
  leave(f, "txtIE");
  QCOMPARE(erroMsg(f)->text(), QString());
  rec->clear();
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"O contribuinte foi criado!"});
  QCOMPARE(stored().size(), 2);
}

void TstTaxpayerForms::erroMsgHoldsOnlyTheLatestMessage() {
  addTaxpayer(kIE, "Empresa Antiga", "OLD");
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  fillForm(f);
  leave(f, "txtIE");
  QCOMPARE(erroMsg(f)->text(), QString("Contribuinte já cadastrado."));
  // An invalid CNPJ replaces it, a valid one clears it.
  type(f, "txtCNPJ", "11222333000182");
  leave(f, "txtCNPJ");
  QCOMPARE(erroMsg(f)->text(), QString("CNPJ Inválido"));
  type(f, "txtCNPJ", kCnpj);
  leave(f, "txtCNPJ");
  QCOMPARE(erroMsg(f)->text(), QString());
  // OK finds the duplicate itself: no box, the message is back, nothing added.
  click(f, "cmdOK");
  QVERIFY(rec->messages.isEmpty());
  QCOMPARE(erroMsg(f)->text(), QString("Contribuinte já cadastrado."));
  QCOMPARE(stored().size(), 1);
  QCOMPARE(stored()[0].value("RazaoSocial").toString(), QString("Empresa Antiga"));
}

void TstTaxpayerForms::createWithBrokenDatabase() {
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  fillForm(f);
  app->write("diziz.db", QByteArray(8192, '\x7f'));
  leave(f, "txtIE");
  QCOMPARE(rec->messages.size(), 1);
  QVERIFY(rec->lastText().startsWith("\r\nVB Error # "));
  QCOMPARE(erroMsg(f)->text(), QString());
  click(f, "cmdOK");
  QCOMPARE(rec->messages.size(), 2);
  QVERIFY(rec->lastText().startsWith("\r\nVB Error # "));
  QVERIFY(Forms::find<FrmCriaContribuinte>()->isVisible());
}

namespace {
template <class T>
bool cancelReenables(Principal* p) {
  p->setEnabled(false);
  T* w = Forms::get<T>();
  w->show();
  click(w, "cmdCancelar");
  settle();
  return !Forms::find<T>() && p->isEnabled();
}
}  // namespace

void TstTaxpayerForms::onlyMovingToAnotherControlIsLeaving() {
  addTaxpayer(kIE, "Empresa Antiga", "OLD");
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  QApplication::setActiveWindow(f);
  QVERIFY(QTest::qWaitForWindowActive(f));
  type(f, "txtIE", kIE);
  // Another window, a message box or the box's context menu taking the focus is not leaving.
  for (Qt::FocusReason why : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
    QFocusEvent out(QEvent::FocusOut, why);
    QCoreApplication::sendEvent(child(f, "txtIE"), &out);
  }
  QCOMPARE(erroMsg(f)->text(), QString());
  // Moving to the next box is.
  child(f, "txtIE")->setFocus();
  QVERIFY(child(f, "txtIE")->hasFocus());
  child(f, "txtRazaoSocial")->setFocus();
  QCOMPARE(erroMsg(f)->text(), QString("Contribuinte já cadastrado."));
  QVERIFY(rec->messages.isEmpty());
}

void TstTaxpayerForms::cancelGivesTheMainWindowBack() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  QVERIFY(cancelReenables<FrmCriaContribuinte>(p));
  QVERIFY(cancelReenables<FrmCadastroContribuinte>(p));
  QVERIFY(cancelReenables<FrmSelecionaContribuinte>(p));
  QVERIFY(cancelReenables<FrmAtualizarContribuinte>(p));
  QVERIFY(cancelReenables<FrmExclusaoContribuinte>(p));
  QVERIFY(rec->messages.isEmpty());
  QCOMPARE(stored().size(), 1);
  QCOMPARE(p->selectedIE(), QString());
}

void TstTaxpayerForms::keyboardChoosesAndCancels() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  addTaxpayer(kIE2, "Empresa B", "KEY2");
  // Enter on a row of the selection list chooses it.
  auto* sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  auto* g = sel->findChild<QTableWidget*>("GridSelContribuinte");
  g->setFocus();
  g->setCurrentCell(2, 1);
  QTest::keyClick(g, Qt::Key_Return);
  settle();
  QCOMPARE(Session::current().taxpayer().ie, kIE2);
  QVERIFY(!Forms::find<FrmSelecionaContribuinte>());
  // A double-click does the same.
  sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  QVERIFY(QTest::qWaitForWindowExposed(sel));
  g = sel->findChild<QTableWidget*>("GridSelContribuinte");
  QCOMPARE(g->item(1, 0)->text(), kIE);
  const QRect cell = g->visualItemRect(g->item(1, 1));
  // What a person's double-click delivers: a click, then the double-click.
  QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, cell.center());
  settle();
  QCOMPARE(Session::current().taxpayer().ie, QString(kIE));
  // Esc cancels a form, whatever has the focus in it; nothing is saved.
  auto* cria = Forms::get<FrmCriaContribuinte>();
  cria->show();
  QLineEdit* ie = cria->findChild<QLineEdit*>("txtIE");
  ie->setFocus();
  QTest::keyClick(ie, Qt::Key_Escape);
  settle();
  QVERIFY(!Forms::find<FrmCriaContribuinte>());
  // Enter in a box presses OK: an empty form gets its first field message, not a save.
  cria = Forms::get<FrmCriaContribuinte>();
  cria->show();
  QLineEdit* razao = cria->findChild<QLineEdit*>("txtRazaoSocial");
  razao->setFocus();
  rec->clear();
  QTest::keyClick(razao, Qt::Key_Return);
  QCOMPARE(rec->messages.size(), 1);
  QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
  QCOMPARE(stored().size(), 2);
}

void TstTaxpayerForms::listWindowsShowEveryTaxpayer() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  addTaxpayer(kIE2, "Empresa B", "");
  struct W {
    QWidget* w;
    const char* name;
    const char* caption;
    const char* label;
  };
  const QList<W> windows{
      {Forms::get<FrmAtualizarContribuinte>(), "frmtbl_atualizarContribuinte",
       "Atualização de Contribuinte - Prefeitura Municipal de Tavarel",
       "Selecione o Contribuinte que deseja atualizar:"},
      {Forms::get<FrmExclusaoContribuinte>(), "frmtbl_exclusaoContribuinte",
       "Exclusão de Contribuinte - Prefeitura Municipal de Tavarel", "Selecione o Contribuinte que deseja excluir:"},
      {Forms::get<FrmSelecionaContribuinte>(), "frmtbl_SelecionaContribuinte",
       "Seleção de Contribuinte - Prefeitura Municipal de Tavarel", "Selecione o Contribuinte que deseja abrir:"}};
  for (const W& w : windows) {
    QCOMPARE(w.w->objectName(), QString(w.name));
    QCOMPARE(w.w->windowTitle(), QString(w.caption));
    QCOMPARE(child<QLabel>(w.w, "Label1")->text(), QString(w.label));
    QTableWidget* g = grid(w.w);
    QCOMPARE(g->columnCount(), 5);
    QCOMPARE(g->rowCount(), 3);
    const QStringList headers{"IE", "RAZÃO SOCIAL", "CNPJ", "CNAE", "Chave de Acesso"};
    // Laid out on screen, every column fits without scrolling sideways.
    w.w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.w));
    QCoreApplication::processEvents();
    int total = 0;
    for (int c = 0; c < 5; ++c) total += g->columnWidth(c);
    QVERIFY2(total <= g->viewport()->width(), qPrintable(QString("%1 > %2").arg(total).arg(g->viewport()->width())));
    for (int c = 0; c < 5; ++c) {
      QCOMPARE(g->item(0, c)->text(), headers[c]);
      QVERIFY2(ShownWhole::cell(g, 0, c), qPrintable(headers[c]));
    }
    // The described widths are a minimum; an IE or CNPJ is never cut short.
    const int minimum[] = {1300 / 15, 4400 / 15, 1600 / 15, 1000 / 15};
    for (int c = 0; c < 4; ++c) {
      QVERIFY(g->columnWidth(c) >= minimum[c]);
      for (int r = 1; r < g->rowCount(); ++r)
        QVERIFY(g->columnWidth(c) >= g->fontMetrics().horizontalAdvance(g->item(r, c)->text()));
    }
    QCOMPARE(g->item(1, 0)->text(), kIE);
    QCOMPARE(g->item(1, 1)->text(), QString("Empresa A"));
    QCOMPARE(g->item(1, 2)->text(), QString("11.222.333/0001-81"));
    QCOMPARE(g->item(1, 3)->text(), QString("4711-3/02"));
    QCOMPARE(g->item(1, 4)->text(), QString("KEY1"));
    QCOMPARE(g->item(1, 4)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignTop));
    QCOMPARE(g->item(2, 1)->text(), QString("Empresa B"));
    QVERIFY(!g->item(2, 4));  // an empty key leaves the cell empty
    // The current row starts on the first taxpayer.
    QCOMPARE(g->currentRow(), 1);
  }
}

void TstTaxpayerForms::updateChoiceFillsTheForm() {
  addTaxpayer(kIE, "Empresa A", "KEY1", "-1", "555");
  addTaxpayer(kIE2, "Empresa B", "KEY2", "0", "666");
  auto* choice = Forms::get<FrmAtualizarContribuinte>();
  choice->show();
  grid(choice)->setCurrentCell(2, 1);
  click(choice, "cmdOK");
  settle();
  QVERIFY(!Forms::find<FrmAtualizarContribuinte>());
  auto* f = Forms::find<FrmCadastroContribuinte>();
  QVERIFY(f && f->isVisible());
  QCOMPARE(shown(f, "txtIE"), kIE2);
  QCOMPARE(shown(f, "txtRazaoSocial"), QString("Empresa B"));
  QCOMPARE(shown(f, "txtCNPJ"), QString("11.222.333/0001-81"));
  QCOMPARE(shown(f, "txtCNAE"), QString("4711-3/02"));
  QCOMPARE(shown(f, "Chave"), QString("KEY2"));
  QCOMPARE(shown(f, "txtInscMunicipal"), QString("666"));
  QVERIFY(!child<QCheckBox>(f, "flag_optantesimples")->isChecked());
  f->close();
  settle();

  choice = Forms::get<FrmAtualizarContribuinte>();
  click(choice, "cmdOK");  // the first row, current from the start
  f = Forms::find<FrmCadastroContribuinte>();
  QCOMPARE(shown(f, "txtIE"), kIE);
  QCOMPARE(shown(f, "txtInscMunicipal"), QString("555"));
  QVERIFY(child<QCheckBox>(f, "flag_optantesimples")->isChecked());
  QVERIFY(rec->messages.isEmpty());
}

void TstTaxpayerForms::updateSavesEveryField() {
  addTaxpayer(kIE, "Empresa A", "KEY1", "0", "555");
  addTaxpayer(kIE2, "Empresa B", "KEY2", "0", "666");
  click(Forms::get<FrmAtualizarContribuinte>(), "cmdOK");
  auto* f = Forms::find<FrmCadastroContribuinte>();
  type(f, "txtRazaoSocial", "Empresa A Renomeada");
  type(f, "txtCNPJ", "11444777000161");
  type(f, "txtCNAE", "1234567");
  type(f, "Chave", "NOVA");
  type(f, "txtInscMunicipal", "999");
  child<QCheckBox>(f, "flag_optantesimples")->setChecked(true);
  leave(f, "txtIE");
  leave(f, "txtCNPJ");
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"O dados cadastrais do contribuinte foram atualizados"});
  QCOMPARE(rec->messages[0].icon, QMessageBox::NoIcon);
  QCOMPARE(rec->messages[0].title, kMsgTitle);
  settle();
  QVERIFY(!Forms::find<FrmCadastroContribuinte>());
  const auto rows = stored();
  QCOMPARE(rows.size(), 2);
  QCOMPARE(rows[0].value("IE").toString(), kIE);
  QCOMPARE(rows[0].value("RazaoSocial").toString(), QString("Empresa A Renomeada"));
  QCOMPARE(rows[0].value("Cnpj").toString(), QString("11.444.777/0001-61"));
  QCOMPARE(rows[0].value("Cnae").toString(), QString("1234-5/67"));
  QCOMPARE(rows[0].value("Chave").toString(), QString("NOVA"));
  QCOMPARE(rows[0].value("CCM").toString(), QString("999"));
  QCOMPARE(rows[0].value("OptanteSimples").toInt(), -1);
  // The other taxpayer is untouched.
  QCOMPARE(rows[1].value("RazaoSocial").toString(), QString("Empresa B"));
  QCOMPARE(rows[1].value("Chave").toString(), QString("KEY2"));
}

void TstTaxpayerForms::updateChecksTheIe() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  click(Forms::get<FrmAtualizarContribuinte>(), "cmdOK");
  auto* f = Forms::find<FrmCadastroContribuinte>();
  // The rule of Minas Gerais on the 13 digits of the box.
  type(f, "txtIE", "0623079040082");
  leave(f, "txtIE");
  QCOMPARE(erroMsg(f)->text(), QString("Inscrição Estadual inválida."));
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"Inscrição Estadual inválida"});
  QCOMPARE(rec->messages[0].icon, QMessageBox::Critical);
  type(f, "txtIE", "062307904008");
  rec->clear();
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"Inscrição Estadual preenchida incorretamente"});
  type(f, "txtIE", kIE);
  leave(f, "txtIE");
  QCOMPARE(erroMsg(f)->text(), QString());
  // A field message still on the window stops OK.
  type(f, "txtCNPJ", "11222333000182");
  leave(f, "txtCNPJ");
  type(f, "txtCNPJ", kCnpj);
  rec->clear();
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"Corrija os erros antes de prosseguir"});
  QCOMPARE(rec->messages[0].title, kAppTitle);
}

void TstTaxpayerForms::updateOfAnUnregisteredIe() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  click(Forms::get<FrmAtualizarContribuinte>(), "cmdOK");
  auto* f = Forms::find<FrmCadastroContribuinte>();
  type(f, "txtIE", kIE2);
  leave(f, "txtIE");
  click(f, "cmdOK");
  QVERIFY(rec->messages.isEmpty());
  QCOMPARE(erroMsg(f)->text(), QString("Contribuinte não cadastrado."));
  QVERIFY(f->isVisible());
  QCOMPARE(stored().size(), 1);
  QCOMPARE(stored()[0].value("IE").toString(), kIE);
}

void TstTaxpayerForms::listWindowsWithoutTaxpayers() {
  auto* upd = Forms::get<FrmAtualizarContribuinte>();
  upd->show();
  QCOMPARE(grid(upd)->rowCount(), 1);
  click(upd, "cmdOK");
  auto* del = Forms::get<FrmExclusaoContribuinte>();
  del->show();
  click(del, "cmdOK");
  QCOMPARE(rec->texts(), (QStringList{"É necessário selecionar a empresa", "É necessário selecionar a empresa"}));
  for (const auto& m : rec->messages) {
    QCOMPARE(m.title, QString());
    QCOMPARE(m.icon, QMessageBox::NoIcon);
  }
  settle();
  QVERIFY(upd->isVisible() && del->isVisible());
  QVERIFY(!Forms::find<FrmCadastroContribuinte>());

  rec->clear();
  p->setEnabled(false);
  auto* sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  click(sel, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"É necessário cadastrar empresa"});
  QCOMPARE(rec->messages[0].title, QString());
  settle();
  QVERIFY(!Forms::find<FrmSelecionaContribuinte>());
  QVERIFY(p->isEnabled());
  QCOMPARE(p->selectedIE(), QString());
}

void TstTaxpayerForms::deleteAsksFirst() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  addTaxpayer(kIE2, "Empresa B", "KEY2");
  auto* del = Forms::get<FrmExclusaoContribuinte>();
  del->show();
  grid(del)->setCurrentCell(2, 0);
  rec->answers.enqueue(QMessageBox::No);
  click(del, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"Deseja realmente excluir este contribuinte"});
  QCOMPARE(rec->messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(rec->messages[0].defaultButton, QMessageBox::No);  // one mis-click must not delete
  QCOMPARE(rec->messages[0].title, kMsgTitle);
  settle();
  QVERIFY(Forms::find<FrmExclusaoContribuinte>() && del->isVisible());
  QCOMPARE(stored().size(), 2);

  rec->clear();
  rec->answers.enqueue(QMessageBox::Yes);
  click(del, "cmdOK");
  QCOMPARE(rec->texts(), (QStringList{"Deseja realmente excluir este contribuinte", "Contribuinte Excluído"}));
  QCOMPARE(rec->messages[1].icon, QMessageBox::Information);
  QCOMPARE(rec->messages[1].title, kMsgTitle);
  settle();
  QVERIFY(!Forms::find<FrmExclusaoContribuinte>());
  const auto rows = stored();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("IE").toString(), kIE);
}

void TstTaxpayerForms::listWindowsWithAFailingRegistry() {
  addTaxpayer(kIE, "Empresa A", "KEY1");
  auto* del = Forms::get<FrmExclusaoContribuinte>();
  auto* upd = Forms::get<FrmAtualizarContribuinte>();
  del->show();
  upd->show();
  // The row went away after the lists were filled: nothing to edit.
  {
    LocalDatabase::Connection db;
    db.exec("Delete From tblContribuinte");
  }
  click(upd, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"É necessário cadastrar empresa"});
  QCOMPARE(rec->messages[0].icon, QMessageBox::Information);
  QCOMPARE(rec->messages[0].title, kMsgTitle);
  QVERIFY(!Forms::find<FrmCadastroContribuinte>());
  QVERIFY(upd->isVisible());

  // The registry cannot be read: deleting reports it and the window stays.
  app->write("diziz.db", QByteArray(8192, '\x7f'));
  rec->clear();
  rec->answers.enqueue(QMessageBox::Yes);
  click(del, "cmdOK");
  QCOMPARE(rec->texts(), (QStringList{"Deseja realmente excluir este contribuinte", "É necessário cadastrar empresa"}));
  QCOMPARE(rec->messages[1].icon, QMessageBox::Information);
  settle();
  QVERIFY(Forms::find<FrmExclusaoContribuinte>() == del && del->isVisible());

  // Opening a list on it: the report, an empty list, and OK finds no choice.
  del->close();
  settle();
  rec->clear();
  del = Forms::get<FrmExclusaoContribuinte>();
  del->show();
  QCOMPARE(rec->messages.size(), 1);
  QVERIFY(rec->lastText().startsWith("\r\nVB Error # "));
  QCOMPARE(grid(del)->rowCount(), 1);
  click(del, "cmdOK");
  QCOMPARE(rec->lastText(), QString("É necessário selecionar a empresa"));
}

void TstTaxpayerForms::apostropheInNameSurvivesTheRoundTrip() {
  auto* f = Forms::get<FrmCriaContribuinte>();
  f->show();
  fillForm(f, kIE, "Padaria D'Oeste");
  type(f, "Chave", "K'1");
  type(f, "txtInscMunicipal", "12'3");
  click(f, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"O contribuinte foi criado!"});
  settle();
  auto* sel = Forms::get<FrmSelecionaContribuinte>();
  QCOMPARE(grid(sel)->item(1, 1)->text(), QString("Padaria D'Oeste"));
  QCOMPARE(grid(sel)->item(1, 4)->text(), QString("K'1"));
  sel->close();
  settle();

  // Through the update and back.
  click(Forms::get<FrmAtualizarContribuinte>(), "cmdOK");
  auto* u = Forms::find<FrmCadastroContribuinte>();
  QCOMPARE(shown(u, "txtRazaoSocial"), QString("Padaria D'Oeste"));
  QCOMPARE(shown(u, "txtInscMunicipal"), QString("12'3"));
  type(u, "txtRazaoSocial", "Padaria D'Oeste e D'Leste");
  rec->clear();
  click(u, "cmdOK");
  QCOMPARE(rec->texts(), QStringList{"O dados cadastrais do contribuinte foram atualizados"});
  const auto rows = stored();
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("RazaoSocial").toString(), QString("Padaria D'Oeste e D'Leste"));
  QCOMPARE(rows[0].value("CCM").toString(), QString("12'3"));
}

void TstTaxpayerForms::selectingAnEmptyKey() {
  addTaxpayer(kIE, "Empresa A", "");
  p->setEnabled(false);
  auto* sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  // Clicking the header row is not a choice; the taxpayer's row is.
  grid(sel)->setCurrentCell(0, 1);
  click(sel, "cmdOK");
  QCOMPARE(rec->texts().value(0), QString("É necessário cadastrar empresa"));
  settle();
  QVERIFY(!Forms::find<FrmSelecionaContribuinte>());
  QCOMPARE(p->selectedIE(), QString());

  sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  grid(sel)->setCurrentCell(1, 3);
  rec->clear();
  click(sel, "cmdOK");
  settle();
  QVERIFY(!Forms::find<FrmSelecionaContribuinte>());
  QCOMPARE(p->selectedIE(), kIE);
  QCOMPARE(p->selectedRazaoSocial(), QString("Empresa A"));
  QCOMPARE(p->selectedChave(), QString());
  QVERIFY(p->isEnabled());
  QVERIFY(child<QPushButton>(p, "Command1")->isVisible());
}

void TstTaxpayerForms::selectingRefreshesTheMainWindow() {
  SandboxServer server({"--contribuinte", kIE + ":AB12CD34:11222333000181", "--ano-trabalho", "2026/2027",
                        "--data-servidor", "03/02/2026 10:20:30"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  {
    // One transmission already on the server for this taxpayer.
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sandbox-seed");
    db.setDatabaseName(server.dataFile());
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(
        q.exec("INSERT INTO transmissao (protocolo, ie, referencia, data, status, adicionado, tipo, contador, "
               "arquivo, tamanho) VALUES ('2026000001', '" +
               kIE +
               "', '01/2026', '02/02/2026 09:00:00', 1, "
               "'0,00', 'ZIDE', '123.456.789-09', 'x.gdb', 10)"));
  }
  QSqlDatabase::removeDatabase("sandbox-seed");
  app->writeSettings("127.0.0.1", QString::number(server.port()));
  app->write("info.dip", "1.15.01");
  addTaxpayer(kIE2, "Outra", "ZZ");
  addTaxpayer(kIE, "Empresa A", "AB12CD34");

  p->setEnabled(false);
  auto* sel = Forms::get<FrmSelecionaContribuinte>();
  sel->show();
  grid(sel)->setCurrentCell(2, 1);
  click(sel, "cmdOK");
  settle();
  QVERIFY2(rec->messages.isEmpty(), qPrintable(rec->texts().join('|')));
  QVERIFY(!Forms::find<FrmSelecionaContribuinte>());
  QVERIFY(p->isEnabled());
  QCOMPARE(p->selectedIE(), kIE);
  QCOMPARE(p->selectedChave(), QString("AB12CD34"));
  // The main window asked the server with the chosen IE and key, and lists what it answered.
  QCOMPARE(Session::current().workingYear(), QString("2026/2027"));
  QCOMPARE(Session::current().serverDate(), QDateTime(QDate(2026, 2, 3), QTime(10, 20, 30)));
  QTableWidget* list = child<QTableWidget>(p, "GridTransmissoes");
  QCOMPARE(list->rowCount(), 2);
  QCOMPARE(list->item(1, 0)->text(), QString("01/2026"));
  QCOMPARE(list->item(1, 2)->text(), QString("2026000001"));
  const auto asked = server.rows("SELECT operacao FROM requisicao");
  QCOMPARE(asked.size(), 1);
  QCOMPARE(asked[0].value("operacao").toString(), QString("Transferencia.ver2"));
}

void TstTaxpayerForms::selectionListOpensOnTheLastCompany() {
  // More companies than the list shows at once: the last one chosen must be scrolled to.
  for (int i = 0; i < 40; ++i)
    addTaxpayer(QString("06230790%1").arg(i, 5, 10, QChar('0')), QString("Empresa %1").arg(i), "K");
  const QString chosen = "0623079000033";
  auto highlighted = [](QWidget* sel) {
    QTableWidget* g = grid(sel);
    const int row = g->currentRow();
    if (row < 1) return QString();
    const bool selected = g->selectionModel()->isRowSelected(row, QModelIndex());
    const bool inView = g->viewport()->rect().contains(g->visualItemRect(g->item(row, 0)));
    return selected && inView ? g->item(row, 0)->text() : QString("row %1 not selected or out of view").arg(row);
  };
  auto open = [this] {
    p->setEnabled(false);
    auto* sel = Forms::get<FrmSelecionaContribuinte>();
    sel->show();
    return sel;
  };

  // Never chosen: the first company.
  auto* sel = open();
  QCOMPARE(highlighted(sel), QString("0623079000000"));
  const int chosenRow = 34;
  QCOMPARE(grid(sel)->item(chosenRow, 0)->text(), chosen);
  grid(sel)->setCurrentCell(chosenRow, 1);
  click(sel, "cmdOK");
  settle();
  QVERIFY(!Forms::find<FrmSelecionaContribuinte>());

  sel = open();
  QVERIFY(QTest::qWaitForWindowExposed(sel));
  QCOMPARE(highlighted(sel), chosen);
  click(sel, "cmdCancelar");
  settle();

  // A new run: nothing of this one survives but the user's settings.
  Forms::unloadAll();
  settle();
  QCOMPARE(Session::current().lastSelectedIE(), QString());
  Session::current().restoreLastSelection();
  p = Forms::get<Principal>();
  p->show();
  sel = open();
  QVERIFY(QTest::qWaitForWindowExposed(sel));
  QCOMPARE(highlighted(sel), chosen);
  QCOMPARE(p->selectedIE(), QString());  // remembered for the list, not selected behind the user's back
  click(sel, "cmdCancelar");
  settle();

  // The remembered company was deleted meanwhile: the list starts on the first one again.
  {
    LocalDatabase::Connection db;
    db.exec("Delete From tblContribuinte Where IE = ?", {chosen});
  }
  sel = open();
  QCOMPARE(highlighted(sel), QString("0623079000000"));
}

QTEST_MAIN(TstTaxpayerForms)
#include "tst_taxpayerforms.moc"
