#include "gui/transmission/frmupload.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "transmission/companyupload.h"
#include "transmission/referencelist.h"

namespace {
constexpr int kProgressStep = 2;  // 100 / 47, rounded half to even
constexpr int kReferencesShown = 15;
const QString kRegime = QStringLiteral("Débito e Crédito");

// The reference grid keeps its header in row 0, as the send code counts rows, but the header is
// no reference: it is never selected nor current, whatever the mouse or the keyboard do.
// Select-all runs from the first reference to the last, as a drag downwards would.
class ReferenceGrid : public QTableWidget {
 public:
  explicit ReferenceGrid(QWidget* parent) : QTableWidget(parent) {}

  void keepHeaderOut() {
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
      const QModelIndex head = model()->index(0, 0);
      if (!head.isValid()) return;
      bool headSelected = false;
      for (int c = 0; c < columnCount() && !headSelected; ++c)
        headSelected = selectionModel()->isSelected(model()->index(0, c));
      if (headSelected)
        selectionModel()->select(QItemSelection(head, model()->index(0, columnCount() - 1)),
                                 QItemSelectionModel::Deselect);
    });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& now) {
      if (now.isValid() && now.row() == 0 && rowCount() > 1)
        selectionModel()->setCurrentIndex(model()->index(1, 1), QItemSelectionModel::NoUpdate);
    });
  }

  // Home and End go to the first and the last reference (whole rows are chosen, never cells);
  // nothing moves above the first reference.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
    const int last = rowCount() - 1;
    if (last < 1) return QModelIndex();
    const int column = qMax(1, currentIndex().column());
    if (action == MoveHome) return model()->index(1, column);
    if (action == MoveEnd) return model()->index(last, column);
    QModelIndex to = QTableWidget::moveCursor(action, modifiers);
    if (to.isValid() && to.row() < 1) to = model()->index(1, column);
    return to;
  }

  // A drag or a shift-click that reaches the header stops at the first reference.
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override {
    if (rowCount() < 2) return;
    QRect r = rect.normalized();
    const int firstTop = visualRect(model()->index(1, 1)).top();
    if (r.bottom() < firstTop) return;
    if (r.top() < firstTop) r.setTop(firstTop);
    QTableWidget::setSelection(r, command);
  }

  void selectAll() override {
    if (rowCount() < 2) return;
    const int last = rowCount() - 1;
    selectionModel()->setCurrentIndex(model()->index(last, 1), QItemSelectionModel::NoUpdate);
    selectionModel()->select(QItemSelection(model()->index(1, 0), model()->index(last, columnCount() - 1)),
                             QItemSelectionModel::ClearAndSelect);
  }
};

}  // namespace

FrmUpload::FrmUpload() : intake_(new Intake(this)) {
  setObjectName(QStringLiteral("frmUpload"));
  setWindowTitle(QStringLiteral("Selecione o arquivo GDB para Entrega  - Prefeitura Municipal de Tavarel"));
  resize(TwipsToPixels(12390), TwipsToPixels(5385));

  Label1_ = makeLabel(this, "Label1", QStringLiteral("Transmissão de Declaração - ZIDE - Débito e Crédito"));
  makeHeading(Label1_);
  Label2_ = makeLabel(this, "Label2",
                      QStringLiteral("Selecione o arquivo que deseja enviar. Para contribuintes inscritos no Regime "
                                     "Débito e Crédito o arquivo a ser enviado é com extensão .GDB"));
  Label2_->setWordWrap(true);

  Frame1_ = new QGroupBox(QStringLiteral("Selecione as referências a enviar"), this);
  Frame1_->setObjectName(QStringLiteral("Frame1"));
  auto* grid = new ReferenceGrid(Frame1_);
  GridRefencias_ = grid;
  GridRefencias_->setObjectName(QStringLiteral("GridRefencias"));
  Preparacao_ = new QGroupBox(QStringLiteral("Processando"), Frame1_);
  Preparacao_->setObjectName(QStringLiteral("Preparacao"));
  Preparacao_->setAutoFillBackground(true);
  Label4_ = makeLabel(Preparacao_, "Label4", QStringLiteral("Aguarde a preparação do arquivo."));
  ocorrencia_ = makeLabel(Preparacao_, "ocorrencia", QStringLiteral(" "));
  Progresso_ = new QProgressBar(Preparacao_);
  Progresso_->setObjectName(QStringLiteral("Progresso"));
  Progresso_->setRange(0, 100);
  Progresso_->setValue(0);
  ProgressoTabela_ = new QProgressBar(Preparacao_);
  ProgressoTabela_->setObjectName(QStringLiteral("ProgressoTabela"));
  ProgressoTabela_->setRange(0, 1000);
  ProgressoTabela_->setMaximumHeight(fontMetrics().height() / 2 + 2);
  ProgressoTabela_->setTextVisible(false);
  ProgressoTabela_->hide();
  auto* prepLay = new QVBoxLayout(Preparacao_);
  prepLay->addStretch();
  prepLay->addWidget(Label4_);
  prepLay->addWidget(ocorrencia_);
  prepLay->addWidget(Progresso_);
  prepLay->addWidget(ProgressoTabela_);
  prepLay->addStretch();
  // The preparation panel covers the grid while it is shown.
  auto* frameLay = new QGridLayout(Frame1_);
  frameLay->addWidget(GridRefencias_, 0, 0);
  frameLay->addWidget(Preparacao_, 0, 0);
  Preparacao_->hide();

  // Controls the user never sees.
  Command1_ = new QPushButton(QStringLiteral("Selecionar GIAs"), this);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->hide();
  auto* lists = new QVBoxLayout;
  lists->addLayout(folderColumn(), 2);
  lists->addWidget(file_, 1);
  auto* middle = new QHBoxLayout;
  middle->addLayout(lists, 2);
  middle->addWidget(Frame1_, 5);
  layOut(Label1_, Label2_, middle);
  // The keyboard goes as the eye does: the lists, the references, then "&Enviar".
  setTabOrder(file_, GridRefencias_);
  setTabOrder(GridRefencias_, cmdUpload_);
  setTabOrder(cmdUpload_, Command2_);

  connect(Command1_, &QPushButton::clicked, this, &FrmUpload::Command1_Click);

  connect(intake_, &Intake::occurrence, ocorrencia_, &QLabel::setText);
  connect(intake_, &Intake::advanced, this, &FrmUpload::advanceProgress);
  connect(intake_, &Intake::loadingStarted, this, [this] {
    Progresso_->setValue(1);
    ProgressoTabela_->show();
  });
  connect(intake_, &Intake::tableProgress, ProgressoTabela_, &QProgressBar::setValue);
  connect(intake_, &Intake::finished, this, &FrmUpload::intakeDone);

  Form_Load();
  grid->keepHeaderOut();
  setFolder(startFolder());
  fitReferences();
}

void FrmUpload::fitReferences() {
  // Rows of text height, and a window tall enough for a year and a quarter of monthly references
  // without scrolling; never smaller than the size the window always had.
  GridRefencias_->verticalHeader()->setMinimumSectionSize(1);
  GridRefencias_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  layout()->activate();
  const int rows = 1 + kReferencesShown;
  const int wanted = rows * GridRefencias_->verticalHeader()->defaultSectionSize() + 2 * GridRefencias_->frameWidth() +
                     GridRefencias_->horizontalScrollBar()->sizeHint().height();
  const int grow = wanted - GridRefencias_->height();
  if (grow > 0) resize(width(), height() + grow);
}

FrmUpload::~FrmUpload() = default;

void FrmUpload::Form_Load() {
  giaCerta = 0;
  msgTrabalho = false;
  buildGrid();
  loadAccountant();
}

void FrmUpload::buildGrid() {
  // The ID column is one twip wide: no column at all on screen.
  SetUpGrid(GridRefencias_,
            {{QStringLiteral("ID"), 1},
             {QStringLiteral("Referência"), 2000},
             {QStringLiteral("Regime tributário"), 1600, Qt::AlignCenter},
             {QStringLiteral("Tipo"), 1400}},
            QAbstractItemView::ContiguousSelection);
  // The header row is neither selectable nor enabled: the mouse and the keyboard pass over it.
  for (int c = 0; c < GridRefencias_->columnCount(); ++c) {
    GridRefencias_->item(0, c)->setFlags(Qt::NoItemFlags);
    GridRefencias_->item(0, c)->setForeground(palette().buttonText());
  }
}

// Choosing the file and converting it.

void FrmUpload::file_Click() {
  const QString name = chosenName();
  if (name.isEmpty()) return;
  const QString path = chosenPath();
  Preparacao_->show();
  if (name.right(3).toUpper() == QLatin1String("GDB")) {
    txtUploadFile_->setText(path);
    MsgBox(this, QStringLiteral("Por favor, se o programa ZIDE-MG estiver aberto queira por gentileza fechá-lo."),
           QMessageBox::Warning, kMsgTitle, QMessageBox::Ok);
    PreparaArquivo();
  } else {
    // A refused name changes nothing: the file to send stays the one whose data zide.db holds.
    MsgBox(this, QStringLiteral("Arquivo inválido.\r\n\r\nO arquivos que esperamos deve ser ZIDE.GDB"),
           QMessageBox::Critical, kMsgTitle);
    if (!intake_->isRunning()) Preparacao_->hide();
  }
}

void FrmUpload::PreparaArquivo() {
  Intake::Settings s = Intake::defaultSettings();
  if (exportTimeoutMs_ > 0) s.timeoutMs = exportTimeoutMs_;
  intake_->setSettings(s);
  // zide.db is rebuilt from here on: nothing of the previous declaration may be sent meanwhile.
  setSendable(false);
  workReady_ = false;
  lostDataPending_ = false;
  clearReferences();
  Progresso_->setValue(0);
  ProgressoTabela_->hide();
  Preparacao_->show();
  intake_->start(txtUploadFile_->text());
}

void FrmUpload::advanceProgress() {
  const int v = Progresso_->value() + kProgressStep;
  Progresso_->setValue(v > 100 ? 100 : v);
}

void FrmUpload::stopWork() {
  if (!isPreparing()) return;
  // A cancelled preparation leaves nothing to send and nothing half-made behind.
  intake_->cancel();
  Preparacao_->hide();
  ProgressoTabela_->hide();
  workReady_ = false;
  setSendable(false);
  emit intakeFinished();
}

void FrmUpload::intakeDone(const Intake::Result& outcome) {
  lastResult_ = outcome;
  Preparacao_->hide();
  ProgressoTabela_->hide();
  workReady_ = outcome.error.isEmpty();
  if (!outcome.error.isEmpty()) {
    // The user's file by its name; the engine's own words only on request.
    MsgBoxDetails(this,
                  QStringLiteral("Erro: não foi possível preparar o arquivo escolhido.\r\n%1\r\n\r\n%2")
                      .arg(QDir::toNativeSeparators(txtUploadFile_->text()), outcome.error),
                  outcome.details, QMessageBox::Critical, kMsgTitle);
    emit intakeFinished();
    return;
  }
  if (outcome.failedStatements > 0 || !outcome.lostTables.isEmpty()) {
    QString text;
    if (outcome.failedStatements > 0)
      text = QStringLiteral(
                 "%1 registros da declaração não puderam ser carregados.\r\n\r\n"
                 "Primeira falha: tabela %2 - %3\r\n\r\n")
                 .arg(outcome.failedStatements)
                 .arg(outcome.firstFailedTable, outcome.firstFailedError);
    if (!outcome.lostTables.isEmpty()) {
      // A table that could not be read loses all of its rows, however many they were.
      text += QStringLiteral("Tabelas da declaração que não puderam ser carregadas:\r\n");
      for (const auto& [table, reason] : outcome.lostTables)
        text += table + QStringLiteral(" - ") + reason + QStringLiteral("\r\n");
      text += QStringLiteral("\r\n");
    }
    text += QStringLiteral("Sem esses registros a declaração enviada ficará incompleta. Deseja enviá-la assim mesmo?");
    lostDataPending_ =
        MsgBox(this, text, QMessageBox::Warning, kMsgTitle, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes;
  }
  Command1_Click();
  emit intakeFinished();
}

void FrmUpload::clearReferences() { GridRefencias_->setRowCount(1); }

// Listing the references.

void FrmUpload::Command1_Click() {
  Session& session = Session::current();
  session.setLastDeclarationFile(txtUploadFile_->text());
  const QString ie = session.taxpayer().ie;
  QList<ListedReference> rows;
  try {
    DbConnection db(intake_->settings().workDb);
    rows = ListReferences(db, ie);
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
    setSendable(false);
    return;
  }
  if (rows.isEmpty()) {
    clearReferences();
    MsgBox(this, QStringLiteral("Erro: Arquivo não contém informações da empresa selecionada"), QMessageBox::NoIcon,
           kMsgTitle, QMessageBox::Ok);
    setSendable(false);
    return;
  }
  GridRefencias_->setRowCount(1);
  for (const ListedReference& r : rows) {
    const int row = GridRefencias_->rowCount();
    GridRefencias_->insertRow(row);
    SetGridRow(GridRefencias_, row, {r.id, r.referencia, kRegime, r.tipo});
  }
  WidenToContents(GridRefencias_, 1, 3);
  GridRefencias_->setCurrentCell(1, 1);
  setSendable(!lostDataPending_);
  session.releaseMainWindow();
}

// Sending.

void FrmUpload::selectReferences(int from, int to) {
  const int last = GridRefencias_->rowCount() - 1;
  from = qBound(1, from, last);
  to = qBound(1, to, last);
  GridRefencias_->clearSelection();
  GridRefencias_->setCurrentCell(to, 1, QItemSelectionModel::NoUpdate);
  GridRefencias_->setRangeSelected(
      QTableWidgetSelectionRange(qMin(from, to), 0, qMax(from, to), GridRefencias_->columnCount() - 1), true);
}

QList<ReferenceRow> FrmUpload::selectedReferences(bool* downwards) const {
  // The selected rows (one range, the header never among them); without a selection, the current
  // row alone. The selection ends at the current row and began at the other end of the range.
  int top = -1, bottom = -1;
  for (const QModelIndex& i : GridRefencias_->selectionModel()->selectedIndexes()) {
    if (i.row() < 1) continue;
    top = top < 0 ? i.row() : qMin(top, i.row());
    bottom = qMax(bottom, i.row());
  }
  const int current = GridRefencias_->currentRow();
  if (top < 0) top = bottom = current;
  const int r2 = current >= top && current <= bottom ? current : bottom;
  const int r1 = r2 == top ? bottom : top;
  *downwards = r1 < r2;
  QList<ReferenceRow> rows;
  // Row 0 is the header: never a reference.
  for (int r = qMax(1, top); r <= bottom && r < GridRefencias_->rowCount(); ++r) {
    const QTableWidgetItem* key = GridRefencias_->item(r, 0);
    const QTableWidgetItem* text = GridRefencias_->item(r, 1);
    rows.append({key ? key->text() : QString(), text ? text->text() : QString()});
  }
  return rows;
}

void FrmUpload::cmdUpload_Click() {
  if (!accountantAndKeyKnown()) return;
  if (!certificateAccepted()) return;
  if (!fileChosen()) return;
  giaCerta = 0;
  const Session& session = Session::current();
  const QString anoTrabalho = session.workingYear();
  bool downwards = false;
  const QList<ReferenceRow> rows = selectedReferences(&downwards);
  ReferenceWalk walk = WalkReferences(rows, downwards, anoTrabalho, &msgTrabalho);
  if (!walk.message.isEmpty()) MsgBox(this, walk.message, QMessageBox::NoIcon, kAppTitle, QMessageBox::Ok);

  // A month the list of transmissions already shows goes again only when the user says so.
  const QList<ReferenceRow> again = AlreadyTransmitted(walk.accepted, session.transmittedReferences());
  QList<ReferenceRow> notResent;
  if (!again.isEmpty()) {
    QStringList months;
    for (const ReferenceRow& r : again) months << ReferenceMonth(r.text);
    if (!sendAgain(months)) {
      notResent = again;
      for (const ReferenceRow& r : again) {
        walk.gias.removeAll(r.key);
        walk.accepted.removeIf([&](const ReferenceRow& a) { return a.key == r.key; });
      }
    }
  }
  giaCerta = qint16(walk.gias.size());
  if (giaCerta == 0) return;

  const QString url = CompanyUpload::ZideUrl(session.accountantDocument(), session.taxpayer().chave, walk.gias);
  attempt_.tipo = QStringLiteral("ZIDE");
  attempt_.references = Verdict::FromRows(walk.accepted);
  verdictExtra_ = LeftOutSummary(walk.refused, notResent, anoTrabalho);
  // The server reads Access databases: it gets the selected company's part of zide.mdb under the
  // name of the declaration it came from. The file may hold other clients' blocks, which must not
  // go under this company's key.
  const QString declaration = QFileInfo(txtUploadFile_->text()).fileName();
  attempt_.arquivo = declaration;
  const QString label = QStringLiteral("de trabalho preparado a partir de ") + declaration;
  const CompanyUpload::Copy copy = CompanyUpload::WriteCopy(intake_->settings(), session.taxpayer().ie);
  lastCopy_ = copy.result;
  attempt_.tabelas = CompanyUpload::CopySummary(lastCopy_);
  if (!copy.ok()) {
    MsgBox(this,
           QStringLiteral("A declaração não foi enviada: não foi possível separar os dados da empresa selecionada "
                          "do arquivo de trabalho.\r\n\r\n%1\r\n\r\nEscolha o arquivo da declaração de novo.")
               .arg(lastCopy_.error),
           QMessageBox::Critical, kMsgTitle);
    return;
  }
  sendUpload(url, copy.path, declaration, label);
}

void FrmUpload::uploadFailed(int, const QString& description) {
  MsgBox(this, description, QMessageBox::Warning, QStringLiteral("ERROR"));
  endPress();
  emit uploadFinished(false);
}

void FrmUpload::taxpayerChanged() {
  // The references listed were another company's: list the new company's from the same working
  // file, or wait for a declaration to be chosen.
  clearReferences();
  setSendable(false);
  if (isPreparing()) return;  // the intake lists for the company selected when it ends
  if (workReady_ && !txtUploadFile_->text().isEmpty() && !Session::current().taxpayer().ie.isEmpty()) Command1_Click();
}

// Leaving.

void FrmUpload::closeEvent(QCloseEvent* e) {
  intake_->cancel();
  TransmissionWindow::closeEvent(e);
}
