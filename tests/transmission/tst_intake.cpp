#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "base/appfolder.h"
#include "gui/main/principal.h"
#include "gui/transmission/frmupload.h"
#include "registry/localdb.h"
#include "support/accessdb.h"
#include "support/formdriver.h"
#include "support/intakesupport.h"
#include "support/recorder.h"
#include "support/testenv.h"
#include "support/uploadform.h"
#include "transmission/intake.h"

namespace {
using FormDriver::child;
using FormDriver::settle;
using UploadForm::dataRows;
using UploadForm::enviar;

const QString kIeA = "0011111110011";
const QString kIeB = "0022222220022";
const QString kCloseZide = "Por favor, se o programa ZIDE-MG estiver aberto queira por gentileza fechá-lo.";
const QString kNoCompany = "Erro: Arquivo não contém informações da empresa selecionada";
const QString kBadName = "Arquivo inválido.\r\n\r\nO arquivos que esperamos deve ser ZIDE.GDB";

QStringList gridRow(FrmUpload* f, int row) {
  auto* g = child<QTableWidget>(f, "GridRefencias");
  QStringList cells;
  for (int c = 0; c < g->columnCount(); ++c) cells << (g->item(row, c) ? g->item(row, c)->text() : QString());
  return cells;
}

int rowsIn(const QString& db, const QString& table) {
  DbConnection c(db);
  return c.query("SELECT count(*) FROM " + table).first().value(0).toInt();
}
}  // namespace

class TstIntake : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void windowAtLoad();
  void listsOnlyTheSelectedCompany();
  void repeatRuleOfTheType();
  void secondDeclarationReplacesTheFirst();
  void companyNotInTheDeclaration();
  void fileNames_data();
  void fileNames();
  void keysInTheFileList_data();
  void fifteenReferencesAtTheDefaultSize();
  void keysInTheFileList();
  void folderAndDriveLists();
  void exportsRunInParallelAndAreAwaited();
  void blankLinesAndAnEmptyFirstLine();
  void lostStatementsNeedConfirmation();
  void toolMissingCrashingOrHanging_data();
  void toolMissingCrashingOrHanging();
  void badDeclarations_data();
  void badDeclarations();
  void firstPartFailures_data();
  void firstPartFailures();
  void cancelHidesAndCloseUnloads();

 private:
  FrmUpload* openWindow(const QString& ie);
  bool intake(FrmUpload* f, const QString& file);
  QString declaration(const QString& name, const QStringList& args);

  FirebirdLock lock_;
  QTemporaryDir decl_;  // declarations made once, shared by the cases
  std::unique_ptr<TestAppFolder> app_;
  std::unique_ptr<Recorder> rec_;
  QString twoCompanies_;
};

void TstIntake::initTestCase() {
  twoCompanies_ = declaration("duas.gdb", {"--company", kIeA + ",11222333000181", "--company", kIeB, "--references",
                                           "3", "--substitui", "N,S,X", "--rows-each", "2"});
  QVERIFY(!twoCompanies_.isEmpty());
}

void TstIntake::init() {
  app_ = std::make_unique<TestAppFolder>();
  rec_ = std::make_unique<Recorder>();
  LocalDatabase::Connection db;
  db.exec("Insert into tblContador (cont_cpf_cnpj, cont_num_crc, cont_razao_nome) values ('123.456.789-09','1','C')");
}

void TstIntake::cleanup() {
  Forms::unloadAll();
  settle();
  rec_.reset();
  app_.reset();
}

QString TstIntake::declaration(const QString& name, const QStringList& args) {
  const QString path = decl_.filePath(name);
  if (!QFile::exists(path) && !makeDeclaration(path, args)) return QString();
  return path;
}

FrmUpload* TstIntake::openWindow(const QString& ie) {
  Principal* p = Forms::get<Principal>();
  p->setSelectedTaxpayer(ie, "Empresa", "CH");
  p->show();
  p->setEnabled(false);  // as the transmit button leaves it
  FrmUpload* f = Forms::get<FrmUpload>();
  f->show();
  return f;
}

// Copies the declaration into a folder of its own under the chosen name and picks it.
bool TstIntake::intake(FrmUpload* f, const QString& file) {
  static int n = 0;
  const QString folder = app_->file(QString("escolha%1").arg(++n));
  QDir().mkpath(folder);
  const QString name = QFileInfo(file).fileName();
  if (!QFile::copy(file, folder + "/" + name)) return false;
  f->setFolder(folder);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  if (!f->chooseFile(name)) return false;
  return done.count() > 0 || done.wait(120000);
}

void TstIntake::windowAtLoad() {
  FrmUpload* f = openWindow(kIeA);
  QCOMPARE(f->objectName(), QString("frmUpload"));
  QVERIFY(f->windowTitle().startsWith("Selecione o arquivo GDB para Entrega  - Prefeitura Municipal de Tavarel"));
  QCOMPARE(f->docContador, QString("12345678909"));
  QCOMPARE(f->giaCerta, qint16(0));
  QVERIFY(!f->msgTrabalho && !f->certificadoOk && !f->conectado);
  QCOMPARE(gridRow(f, 0), (QStringList{"ID", "Referência", "Regime tributário", "Tipo"}));
  QCOMPARE(dataRows(f), 0);
  auto* grid = child<QTableWidget>(f, "GridRefencias");
  QVERIFY(grid->isColumnHidden(0));
  QCOMPARE(grid->columnWidth(1), 2000 / 15);
  auto* up = child<QPushButton>(f, "cmdUpload");
  QVERIFY(!up->isEnabled() && up->isDefault());
  QCOMPARE(up->text(), QString("&Enviar"));
  QCOMPARE(child<QPushButton>(f, "Command2")->text(), QString("&Cancelar"));
  QVERIFY(!child<QGroupBox>(f, "Preparacao")->isVisible());
  QCOMPARE(child<QGroupBox>(f, "Frame1")->title(), QString("Selecione as referências a enviar"));
  QCOMPARE(child<QLabel>(f, "Label4")->text(), QString("Aguarde a preparação do arquivo."));
  QCOMPARE(child<QLabel>(f, "lblSendSpeed")->text(), QString("100% restante"));
  QCOMPARE(child<QLineEdit>(f, "txtName")->text(), QString("objArquivo"));
  QCOMPARE(child<QLineEdit>(f, "txtMIMEType")->text(), QString("application/octet-stream"));
  QVERIFY(!child<QPushButton>(f, "Command1")->isVisible());
  for (const char* hidden : {"txtUploadFile", "txtUrl", "txtRequest", "txtResponse"})
    QVERIFY2(child<QWidget>(f, hidden) && !child<QWidget>(f, hidden)->isVisible(), hidden);
  QVERIFY(rec_->messages.isEmpty());
}

void TstIntake::listsOnlyTheSelectedCompany() {
  FrmUpload* f = openWindow(kIeB);
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(rec_->texts(), QStringList{kCloseZide});
  QCOMPARE(rec_->messages.first().icon, QMessageBox::Warning);
  QCOMPARE(rec_->messages.first().title, kMsgTitle);
  // The second company's references are 4..6; its blank before each removed time stays.
  QCOMPARE(dataRows(f), 3);
  QCOMPARE(gridRow(f, 1), (QStringList{"4", "01/01/2023  a 31/01/2023 ", "Débito e Crédito", "Normal"}));
  QCOMPARE(gridRow(f, 2), (QStringList{"5", "01/02/2023  a 28/02/2023 ", "Débito e Crédito", "Substitutiva"}));
  QCOMPARE(gridRow(f, 3), (QStringList{"6", "01/03/2023  a 31/03/2023 ", "Débito e Crédito", "Substitutiva"}));
  QVERIFY(enviar(f));
  Principal* p = Forms::find<Principal>();
  QVERIFY(p->isEnabled());
  QCOMPARE(child<QLabel>(p, "PathMDB")->text(), child<QLineEdit>(f, "txtUploadFile")->text());
  QVERIFY(child<QLineEdit>(f, "txtUploadFile")->text().endsWith("/duas.gdb"));
  QVERIFY(!child<QGroupBox>(f, "Preparacao")->isVisible());
  // 48 steps of 2 while exporting, then from 1 again while loading.
  QCOMPARE(child<QProgressBar>(f, "Progresso")->value(), 97);
  QCOMPARE(child<QLabel>(f, "ocorrencia")->text(), QString("Passo 2: Carregando TAB03011"));

  // zide.db holds the whole declaration, both companies, with its text intact.
  const QString work = app_->file("zide.db");
  QCOMPARE(rowsIn(work, "TAB03002"), 2);
  QCOMPARE(rowsIn(work, "TAB03003"), 6);
  QCOMPARE(rowsIn(work, "TAB01001"), 2);
  QCOMPARE(f->lastIntake().loadedStatements, 46 * 2 + 2 + 6);
  QCOMPARE(f->lastIntake().failedStatements, 0);
  DbConnection db(work);
  QVERIFY(db.query("SELECT OBSERVACAO FROM HEADERS").first().value(0).toString().startsWith("Observação 1\r\n"));
  QVERIFY(QFileInfo(app_->file("temp")).isDir());

  // The list is what a reader of the Access file that is sent finds for the company.
  const QString mdb = app_->file("zide.mdb");
  const QList<QStringList> blocks = mdbExportRows(mdb, "TAB03002"), refs = mdbExportRows(mdb, "TAB03003");
  QVERIFY(blocks.size() == 3 && refs.size() == 7);
  QStringList ownBlocks;
  for (const QStringList& b : blocks.mid(1))
    if (b.value(blocks[0].indexOf("IE")) == kIeB) ownBlocks << b.value(blocks[0].indexOf("ID_03002"));
  auto day = [](const QString& stamp) {
    // The window shows the driver's text with "00:00:00" taken out, its blank left.
    const QDateTime t = QDateTime::fromString(stamp, "yyyy-MM-dd HH:mm:ss");
    return t.time() == QTime(0, 0) ? t.toString("dd/MM/yyyy ") : t.toString("dd/MM/yyyy HH:mm:ss");
  };
  QList<QStringList> fromAccess;
  QString tipo;
  const QStringList h = refs[0];
  for (const QStringList& r : refs.mid(1)) {
    if (!ownBlocks.contains(r.value(h.indexOf("ID_03002")))) continue;
    const QString s = r.value(h.indexOf("SUBSTITUI"));
    if (s == "N") tipo = "Normal";
    else if (s == "S") tipo = "Substitutiva";
    fromAccess << QStringList{r.value(h.indexOf("ID_03003")),
                              day(r.value(h.indexOf("INICIO"))) + " a " + day(r.value(h.indexOf("FIM"))),
                              "Débito e Crédito", tipo};
  }
  QList<QStringList> shown;
  for (int r = 1; r <= dataRows(f); ++r) shown << gridRow(f, r);
  QCOMPARE(shown, fromAccess);

  // The IE reaches the query as a value, never as SQL.
  p->setSelectedTaxpayer(kIeA + "' OR '1'='1", "Empresa", "CH");
  f->Command1_Click();
  QCOMPARE(rec_->lastText(), kNoCompany);
  QVERIFY(!enviar(f));
  p->setSelectedTaxpayer(kIeA, "Empresa", "CH");
  f->Command1_Click();
  QCOMPARE(dataRows(f), 3);
  QCOMPARE(gridRow(f, 1).at(0), QString("1"));
}

void TstIntake::repeatRuleOfTheType() {
  // One company per pattern; listing another company needs no new intake.
  const QList<QPair<QString, QStringList>> cases{{"N,X", {"Normal", "Normal"}},
                                                 {"X,S", {"", "Substitutiva"}},
                                                 {"S,N,X,S", {"Substitutiva", "Normal", "Normal", "Substitutiva"}}};
  const QString gdb =
      declaration("tipos.gdb", {"--companies", "3", "--references", "4", "--substitui", "S,N,X,S", "--rows-each", "0"});
  FrmUpload* f = openWindow("0000001000002");
  QVERIFY(intake(f, gdb));
  QCOMPARE(dataRows(f), 4);
  for (int i = 0; i < 4; ++i) QCOMPARE(gridRow(f, i + 1).at(3), cases[2].second[i]);
  // The same values in another order: a work database of our own making.
  DbConnection db(app_->file("zide.db"));
  db.exec(
      "UPDATE TAB03003 SET SUBSTITUI = CASE ID_03003 WHEN 1 THEN 'N' WHEN 2 THEN 'X' WHEN 5 THEN 'X' "
      "WHEN 6 THEN 'S' ELSE SUBSTITUI END");
  db.exec("DELETE FROM TAB03003 WHERE ID_03003 IN (3, 4, 7, 8)");
  for (int k = 0; k < 2; ++k) {
    Forms::find<Principal>()->setSelectedTaxpayer(QString("000000100000%1").arg(k), "Empresa", "CH");
    f->Command1_Click();
    QCOMPARE(dataRows(f), 2);
    for (int i = 0; i < 2; ++i) QCOMPARE(gridRow(f, i + 1).at(3), cases[k].second[i]);
  }
}

void TstIntake::secondDeclarationReplacesTheFirst() {
  const QString other = declaration("outra.gdb", {"--company", kIeA, "--references", "2", "--first", "2024-11"});
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(dataRows(f), 3);
  QVERIFY(intake(f, other));
  QCOMPARE(dataRows(f), 2);
  QCOMPARE(gridRow(f, 1).at(1), QString("01/11/2024  a 30/11/2024 "));
  QCOMPARE(gridRow(f, 2).at(1), QString("01/12/2024  a 31/12/2024 "));
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB03003"), 2);
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB03002"), 1);
  QVERIFY(enviar(f));
}

void TstIntake::companyNotInTheDeclaration() {
  // After a good intake, a declaration without the company disables sending again.
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  QVERIFY(enviar(f));
  const QString other = declaration("outra2.gdb", {"--company", kIeB, "--references", "1"});
  QVERIFY(intake(f, other));
  QCOMPARE(rec_->lastText(), kNoCompany);
  QCOMPARE(rec_->messages.last().title, kMsgTitle);
  QCOMPARE(rec_->messages.last().buttons, QMessageBox::Ok);
  QVERIFY(!enviar(f));
  QCOMPARE(dataRows(f), 0);
}

void TstIntake::fileNames_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("zide.gdb") << "zide.gdb" << true;
  QTest::newRow("xgdb") << "xgdb" << true;
  QTest::newRow("ZIDE.GDB.bak") << "ZIDE.GDB.bak" << false;
  QTest::newRow("notas.txt") << "notas.txt" << false;
  // clang-format on
}

void TstIntake::fileNames() {
  QFETCH(QString, name);
  QFETCH(bool, accepted);
  FrmUpload* f = openWindow(kIeA);
  const QString folder = app_->file("nomes");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(twoCompanies_, folder + "/" + name));
  f->setFolder(folder);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  QVERIFY(f->chooseFile(name));
  if (accepted) {
    QCOMPARE(rec_->texts(), QStringList{kCloseZide});
    QVERIFY(f->isPreparing());
    QVERIFY(child<QGroupBox>(f, "Preparacao")->isVisible());
    QCOMPARE(child<QLineEdit>(f, "txtUploadFile")->text(), folder + "/" + name);
  } else {
    QCOMPARE(rec_->texts(), QStringList{kBadName});
    QCOMPARE(rec_->messages.first().icon, QMessageBox::Critical);
    QCOMPARE(rec_->messages.first().title, kMsgTitle);
    QVERIFY(!f->isPreparing());
    QVERIFY(!child<QGroupBox>(f, "Preparacao")->isVisible());
    QVERIFY(child<QLineEdit>(f, "txtUploadFile")->text().isEmpty());
    QVERIFY(!QFile::exists(app_->file("zide.db")));
  }
}

void TstIntake::keysInTheFileList_data() {
  QTest::addColumn<int>("key");
  QTest::newRow("Enter") << int(Qt::Key_Return);
  QTest::newRow("Space") << int(Qt::Key_Space);
}

// Moving through the file list (arrow keys, or Tab into a list with nothing current) only
// highlights: no message and no intake for a file passed over. Enter or Space chooses.
void TstIntake::keysInTheFileList() {
  QFETCH(int, key);
  const QString other = declaration("outra3.gdb", {"--company", kIeA, "--references", "1"});
  FrmUpload* f = openWindow(kIeA);
  const QString folder = app_->file("setas");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(twoCompanies_, folder + "/a.gdb"));
  {
    QFile t(folder + "/b.txt");
    QVERIFY(t.open(QIODevice::WriteOnly));
  }
  QVERIFY(QFile::copy(other, folder + "/c.gdb"));
  f->setFolder(folder);
  f->show();
  QVERIFY(QTest::qWaitForWindowActive(f));
  auto* list = child<QListWidget>(f, "file");
  QCOMPARE(list->count(), 3);
  QSignalSpy done(f, &FrmUpload::intakeFinished);
  child<QWidget>(f, "dir")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), list);
  for (int i = 0; i < 3; ++i) QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Up);
  QCOMPARE(list->currentItem()->text(), QString("b.txt"));
  QVERIFY2(rec_->messages.isEmpty(), qPrintable(rec_->texts().join(" | ")));
  QVERIFY(!f->isPreparing());
  QVERIFY(child<QLineEdit>(f, "txtUploadFile")->text().isEmpty());
  // The highlighted name is refused when chosen, and the choice starts an intake.
  QTest::keyClick(list, Qt::Key(key));
  QCOMPARE(rec_->texts(), QStringList{kBadName});
  QTest::keyClick(list, Qt::Key_Down);
  QCOMPARE(rec_->texts(), QStringList{kBadName});
  QTest::keyClick(list, Qt::Key(key));
  QCOMPARE(rec_->texts(), (QStringList{kBadName, kCloseZide}));
  QVERIFY(done.count() || done.wait(120000));
  QCOMPARE(dataRows(f), 1);
  QVERIFY(child<QLineEdit>(f, "txtUploadFile")->text().endsWith("/c.gdb"));
}

// The window opens tall enough for fifteen monthly references, each row whole in the grid.
void TstIntake::fifteenReferencesAtTheDefaultSize() {
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(QTest::qWaitForWindowExposed(f));
  QVERIFY(intake(f, declaration("quinze.gdb", {"--company", kIeA, "--references", "15", "--first", "2025-01"})));
  QCOMPARE(dataRows(f), 15);
  QCoreApplication::processEvents();
  auto* grid = child<QTableWidget>(f, "GridRefencias");
  for (int r = 0; r <= 15; ++r)
    QVERIFY2(grid->viewport()->rect().contains(grid->visualItemRect(grid->item(r, 1))), qPrintable(QString::number(r)));
}

void TstIntake::folderAndDriveLists() {
  FrmUpload* f = openWindow(kIeA);
  auto* drives = child<QComboBox>(f, "Drive1");
  QStringList roots;
  for (int i = 0; i < drives->count(); ++i) roots << drives->itemData(i).toString();
  QCOMPARE(roots.first(), QDir::homePath());
  QVERIFY(roots.contains("/"));
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
    if (v.isValid() && v.isReady()) QVERIFY2(roots.contains(v.rootPath()), qPrintable(v.rootPath()));

  const QString folder = app_->file("pastas");
  QDir().mkpath(folder + "/Sub");
  QVERIFY(QFile::copy(twoCompanies_, folder + "/Sub/zide.gdb"));
  f->setFolder(folder);
  auto* dirs = child<QListWidget>(f, "dir");
  auto* files = child<QListWidget>(f, "file");
  QCOMPARE(dirs->item(dirs->count() - 1)->text().trimmed(), QString("Sub"));
  QCOMPARE(files->count(), 0);
  // Entering a folder lists its files and starts nothing.
  emit dirs->itemActivated(dirs->item(dirs->count() - 1));
  QCOMPARE(f->folder(), folder + "/Sub");
  QCOMPARE(files->count(), 1);
  QCOMPARE(files->currentRow(), -1);
  QVERIFY(!f->isPreparing());
  // The first entry of the folder list is the root; choosing a drive goes to its root.
  QCOMPARE(dirs->item(0)->data(Qt::UserRole).toString(), QString("/"));
  drives->setCurrentIndex(roots.indexOf("/"));
  f->Drive1_Change();
  QCOMPARE(f->folder(), QString("/"));
  // Walking the folder list to the home folder moves the drive list along.
  f->setFolder(QDir::homePath() + "/..");
  QVERIFY(drives->currentIndex() != 0);
  QListWidgetItem* home = nullptr;
  for (int i = 0; i < dirs->count(); ++i)
    if (dirs->item(i)->data(Qt::UserRole).toString() == QDir::homePath()) home = dirs->item(i);
  QVERIFY(home);
  emit dirs->itemActivated(home);
  QCOMPARE(drives->currentIndex(), 0);
  QVERIFY(rec_->messages.isEmpty());
}

void TstIntake::exportsRunInParallelAndAreAwaited() {
  ScriptedRunner runner;
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  // Each table's rows and structure in one run.
  QCOMPARE(runner.starts.size(), 48);
  const int cores = qMax(1, QThread::idealThreadCount());
  QVERIFY(runner.maxRunning <= cores);
  QVERIFY(runner.maxRunning >= qMin(2, cores));
  const auto& s = runner.starts.first();
  QCOMPARE(s.program, builtProgram("fbexport"));
  // The exports read a copy in temp/, which is gone afterwards; the chosen file is never written.
  const QString chosen = child<QLineEdit>(f, "txtUploadFile")->text();
  QCOMPARE(s.arguments,
           (QStringList{"-D", app_->file("temp") + "/declaracao.gdb", "-U", "SYSDBA", "-P", "gatehouse", "-Si", "-V",
                        "AUTOINCREMENTO", "-F", app_->file("temp") + "/exportAUTOINCREMENTO.txt", "-E",
                        app_->file("temp") + "/estruturaAUTOINCREMENTO.txt", "--copias", app_->file("temp")}));
  QStringList rowsOf;
  for (const auto& st : runner.starts)
    if (st.arguments.contains("-Si")) rowsOf << ScriptedRunner::option(st.arguments, "-V");
  QCOMPARE(rowsOf.size(), 48);
  QVERIFY(QDir(app_->file("temp")).isEmpty());
  QVERIFY(!QFile::exists(app_->file("temp") + "/declaracao.gdb"));
  QFile original(twoCompanies_), taken(chosen);
  QVERIFY(original.open(QIODevice::ReadOnly) && taken.open(QIODevice::ReadOnly));
  QVERIFY(original.readAll() == taken.readAll());
  QVERIFY(s.timeoutMs > 0);
  QStringList order;
  for (const auto& st : runner.starts) order << ScriptedRunner::option(st.arguments, "-V");
  QCOMPARE(order, Intake::tables());
  QCOMPARE(dataRows(f), 3);
}

void TstIntake::blankLinesAndAnEmptyFirstLine() {
  ScriptedRunner runner;
  // Blank lines between the statements of one table, and an empty first line in another; in a
  // third, a bare line feed before the first statement, which makes that line no blank one.
  int tab01002 = 0;
  runner.edit = [&tab01002](const QString& table, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    QByteArray text = file.readAll();
    file.close();
    if (table == "TAB03003") text.replace(";\r\n", ";\r\n\r\n   \r\n\t\r\n");
    else if (table == "TAB01001") text.prepend("\r\n");
    else if (table == "TAB01002") tab01002 = int(text.count("\r\n")), text.prepend("\n");
    else return;
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text);
  };
  rec_->answers << QMessageBox::Ok << QMessageBox::Yes;
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(dataRows(f), 3);
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB03003"), 6);
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB01001"), 0);
  QVERIFY(tab01002 > 0);
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB01002"), 0);
  // The rows of the tables that loaded nothing are reported, not lost silently.
  QCOMPARE(rec_->messages.size(), 2);
  QVERIFY2(rec_->messages[1].text.startsWith(
               QString("%1 registros da declaração não puderam ser carregados").arg(2 + tab01002)),
           qPrintable(rec_->messages[1].text));
  QVERIFY(rec_->messages[1].text.contains("TAB01001"));
  QVERIFY(enviar(f));  // confirmed with Yes
}

void TstIntake::lostStatementsNeedConfirmation() {
  ScriptedRunner runner;
  // One statement the database refuses (a key repeated), one that is not an INSERT and one that
  // hides a second statement behind an INSERT.
  runner.edit = [](const QString& table, const QString& path) {
    QFile file(path);
    if (table != "TAB01002" && table != "TAB01004") return;
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) return;
    if (table == "TAB01002") file.write("INSERT INTO TAB01002 (ID_01002) VALUES (1);\r\n");
    else file.write("DROP TABLE TAB03002;\r\nINSERT INTO TAB01004 (ID_01004) VALUES (900); DELETE FROM TAB03002;\r\n");
  };
  rec_->answers << QMessageBox::Ok << QMessageBox::No;
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(rec_->messages.size(), 2);
  const Recorder::Message& m = rec_->messages[1];
  QVERIFY2(m.text.startsWith("3 registros da declaração não puderam ser carregados"), qPrintable(m.text));
  QVERIFY(m.text.contains("TAB01002"));
  QVERIFY(m.text.contains("UNIQUE"));
  QCOMPARE(m.buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(m.title, kMsgTitle);
  QCOMPARE(f->lastIntake().failedStatements, 3);
  QCOMPARE(f->lastIntake().firstFailedTable, QString("TAB01002"));
  // Not confirmed: the list is there, sending is not.
  QCOMPARE(dataRows(f), 3);
  QVERIFY(!enviar(f));
  QVERIFY(f->lostDataPending());
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB01002"), 2);
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB03002"), 2);
  QCOMPARE(rowsIn(app_->file("zide.db"), "TAB01004"), 2);

  // Confirmed: sending is allowed.
  rec_->clear();
  rec_->answers << QMessageBox::Ok << QMessageBox::Yes;
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(rec_->messages.size(), 2);
  QVERIFY(enviar(f));
  QVERIFY(!f->lostDataPending());
}

void TstIntake::toolMissingCrashingOrHanging_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("how");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("details");  // the tool's own words, shown apart
  QTest::newRow("not installed") << "missing" << "O programa de exportação não foi encontrado" << "";
  QTest::newRow("cannot start") << "nostart" << "Não foi possível executar o programa de exportação" << "";
  QTest::newRow("crashes") << "crash" << "Não foi possível ler a tabela TAB03003 do arquivo escolhido." << "o programa de exportação terminou de forma inesperada";
  QTest::newRow("hangs") << "hang" << "Não foi possível ler a tabela TAB03003 do arquivo escolhido." << "a leitura não terminou em 3 segundos";
  QTest::newRow("fails") << "fail" << "Não foi possível ler a tabela TAB03003 do arquivo escolhido." << "sem memória";
  // clang-format on
}

void TstIntake::toolMissingCrashingOrHanging() {
  QFETCH(QString, how);
  QFETCH(QString, message);
  QFETCH(QString, details);
  ScriptedRunner runner;
  // An installation without the tool: its helper folder holds something that is not a program.
  QTemporaryDir installation;
  if (how == "missing") {
    QFile junk(installation.filePath("fbexport"));
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("não é um programa") > 0);
    AppFolder::setHelperFolderForTests(installation.path());
  }
  auto restore = qScopeGuard([] { AppFolder::setHelperFolderForTests(QString()); });
  runner.answer = [how](const QString& table) -> std::optional<ProcessResult> {
    ProcessResult r;
    if (how == "nostart") r.status = ProcessResult::FailedToStart;
    else if (table != "TAB03003") return std::nullopt;
    else if (how == "crash") r.status = ProcessResult::Crashed;
    else if (how == "fail") r.exitCode = 2, r.errorOutput = "fbexport: sem memória";
    else return std::nullopt;
    return r;
  };
  // A real program that never ends stands in for the tool, and the real time limit ends it.
  runner.replace = [how](const QString& table) -> std::optional<QStringList> {
    if (how == "hang" && table == "TAB03003") return QStringList{"/bin/sleep", "300"};
    return std::nullopt;
  };
  FrmUpload* f = openWindow(kIeA);
  f->setExportTimeout(3000);  // generous: every table has it, and the machine may be busy
  QElapsedTimer t;
  t.start();
  QVERIFY(intake(f, twoCompanies_));
  // Far below the hung tool's 300 s, far above a busy machine's worst: only a limit that never
  // fired can fail this.
  QVERIFY(t.elapsed() < 120000);
  QCOMPARE(rec_->messages.size(), 2);
  const Recorder::Message& m = rec_->messages[1];
  QVERIFY2(m.text.startsWith("Erro: não foi possível preparar o arquivo escolhido."), qPrintable(m.text));
  QVERIFY2(m.text.contains(message), qPrintable(m.text));
  QVERIFY2(m.details.contains(details), qPrintable(m.details));
  if (!details.isEmpty()) QVERIFY2(!m.text.contains(details), qPrintable(m.text));
  QCOMPARE(m.icon, QMessageBox::Critical);
  QCOMPARE(m.title, kMsgTitle);
  // The window stays usable and sends nothing.
  QVERIFY(!f->isPreparing());
  QVERIFY(!enviar(f));
  QCOMPARE(dataRows(f), 0);
  QVERIFY(!child<QGroupBox>(f, "Preparacao")->isVisible());
  QVERIFY(child<QListWidget>(f, "file")->isEnabled());

  // The next choice works once the tool behaves (once is enough to show it).
  if (how != "hang") return;
  runner.answer = nullptr;
  runner.replace = nullptr;
  rec_->clear();
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(dataRows(f), 3);
  QVERIFY(enviar(f));
}

void TstIntake::badDeclarations_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("message");
  QTest::newRow("corrupt file") << "corrupt" << "não é uma declaração do ZIDE";
  QTest::newRow("table missing") << "missing" << "";
  // clang-format on
}

void TstIntake::badDeclarations() {
  QFETCH(QString, kind);
  QFETCH(QString, message);
  QString gdb;
  if (kind == "corrupt") {
    gdb = decl_.filePath("corrompido.gdb");
    QFile f(gdb);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QFile src(twoCompanies_);
    QVERIFY(src.open(QIODevice::ReadOnly));
    QByteArray bytes = src.readAll();
    bytes.replace(0, 4096, QByteArray(4096, '\xAB'));  // header page gone
    f.write(bytes);
  } else {
    gdb = declaration("semtabela.gdb", {"--company", kIeA, "--omit", "TAB01005"});
  }
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, gdb));
  QVERIFY(!f->isPreparing());
  QVERIFY(QDir(app_->file("temp")).isEmpty());
  if (message.isEmpty()) {
    // A table the declaration lacks is written empty; nothing is lost and nothing is asked.
    QCOMPARE(rec_->messages.size(), 1);
    QVERIFY(enviar(f));
    QCOMPARE(rowsIn(app_->file("zide.db"), "TAB01005"), 0);
    QCOMPARE(rowsIn(app_->file("zide.db"), "TAB03003"), 3);
    return;
  }
  QCOMPARE(rec_->messages.size(), 2);
  QVERIFY2(rec_->messages[1].text.contains(message), qPrintable(rec_->messages[1].text));
  QVERIFY(!enviar(f));
  QVERIFY(!child<QGroupBox>(f, "Preparacao")->isVisible());
}

void TstIntake::firstPartFailures_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("setup");
  QTest::addColumn<QString>("message");
  QTest::newRow("template missing") << "template" << "O banco de dados modelo não foi encontrado";
  QTest::newRow("template not a database") << "junk" << "Não foi possível abrir o banco de dados de trabalho";
  QTest::newRow("temp folder cannot be made") << "temp" << "Não foi possível criar a pasta temporária";
  // clang-format on
}

void TstIntake::firstPartFailures() {
  QFETCH(QString, setup);
  QFETCH(QString, message);
  if (setup == "template") QVERIFY(QDir().mkpath(app_->file("zide_limpo.db")));  // there, but not a file
  else if (setup == "junk") app_->write("zide_limpo.db", QByteArray(8192, 'z'));
  else app_->write("temp", "um arquivo no lugar da pasta");
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  QCOMPARE(rec_->messages.size(), 2);
  QVERIFY2(rec_->messages[1].text.contains(message), qPrintable(rec_->messages[1].text));
  QVERIFY(!enviar(f));
  QVERIFY(!f->isPreparing());
  QCOMPARE(dataRows(f), 0);
}

void TstIntake::cancelHidesAndCloseUnloads() {
  FrmUpload* f = openWindow(kIeA);
  QVERIFY(intake(f, twoCompanies_));
  Principal* p = Forms::find<Principal>();
  p->setEnabled(false);
  child<QPushButton>(f, "Command2")->click();
  QVERIFY(!f->isVisible());
  QVERIFY(p->isEnabled());
  settle();
  QCOMPARE(Forms::find<FrmUpload>(), f);  // hidden, not unloaded: the list survives
  f->show();
  QCOMPARE(dataRows(f), 3);

  // Closing during an intake abandons it: its programs end and nothing is reported later.
  ScriptedRunner runner;
  runner.replace = [](const QString&) -> std::optional<QStringList> { return QStringList{"/bin/sleep", "30"}; };
  p->setEnabled(false);
  const QString folder = app_->file("fechar");
  QDir().mkpath(folder);
  QVERIFY(QFile::copy(twoCompanies_, folder + "/zide.gdb"));
  f->setFolder(folder);
  QVERIFY(f->chooseFile("zide.gdb"));
  QVERIFY(f->isPreparing());
  QVERIFY(child<QGroupBox>(f, "Preparacao")->isVisible());
  QVERIFY(!enviar(f));
  rec_->clear();
  f->close();
  settle();
  QVERIFY(!Forms::find<FrmUpload>());
  QVERIFY(p->isEnabled());
  QTest::qWait(300);
  QVERIFY(rec_->messages.isEmpty());
}

QTEST_MAIN(TstIntake)
#include "tst_intake.moc"
