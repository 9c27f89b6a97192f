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
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "registry/localdb.h"
#include "registry/session.h"

namespace {
constexpr int kTwipsPerPixel = 15;
constexpr int kProgressStep = 2;  // 100 / 47, rounded half to even
const QString kRegime = QStringLiteral("Débito e Crédito");

}  // namespace

FrmUpload::FrmUpload() : intake_(new Intake(this)) {
  setObjectName(QStringLiteral("frmUpload"));
  setWindowTitle(QStringLiteral("Selecione o arquivo GDB para Entrega  - Prefeitura Municipal de Tavarel"));
  resize(12390 / kTwipsPerPixel, 5385 / kTwipsPerPixel);

  Label1_ = makeLabel(this, "Label1", QStringLiteral("Transmissão de Declaração - ZIDE - Débito e Crédito"));
  makeHeading(Label1_);
  Label2_ = makeLabel(this, "Label2",
                      QStringLiteral("Selecione o arquivo que deseja enviar. Para contribuintes inscritos no Regime "
                                     "Débito e Crédito o arquivo a ser enviado é com extensão .GDB"));
  Label2_->setWordWrap(true);

  Frame1_ = new QGroupBox(QStringLiteral("Selecione as referências a enviar"), this);
  Frame1_->setObjectName(QStringLiteral("Frame1"));
  GridRefencias_ = new QTableWidget(Frame1_);
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
  auto* prepLay = new QVBoxLayout(Preparacao_);
  prepLay->addStretch();
  prepLay->addWidget(Label4_);
  prepLay->addWidget(ocorrencia_);
  prepLay->addWidget(Progresso_);
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
  lists->addWidget(Drive1_);
  lists->addWidget(dir_, 1);
  lists->addWidget(file_, 1);
  auto* middle = new QHBoxLayout;
  middle->addLayout(lists, 2);
  middle->addWidget(Frame1_, 5);
  layOut(Label1_, Label2_, middle);

  connect(Command1_, &QPushButton::clicked, this, &FrmUpload::Command1_Click);

  connect(intake_, &Intake::occurrence, ocorrencia_, &QLabel::setText);
  connect(intake_, &Intake::advanced, this, &FrmUpload::advanceProgress);
  connect(intake_, &Intake::loadingStarted, this, [this] { Progresso_->setValue(1); });
  connect(intake_, &Intake::finished, this, &FrmUpload::intakeDone);

  Form_Load();
  setFolder(startFolder());
}

FrmUpload::~FrmUpload() = default;

void FrmUpload::Form_Load() {
  giaCerta = 0;
  msgTrabalho = false;
  buildGrid();
  loadAccountant();
}

void FrmUpload::buildGrid() {
  struct Col {
    const char* header;
    int twips;
    Qt::Alignment align;
  };
  static const Col cols[] = {{"ID", 1, Qt::AlignLeft | Qt::AlignVCenter},
                             {"Referência", 2000, Qt::AlignLeft | Qt::AlignVCenter},
                             {"Regime tributário", 1600, Qt::AlignCenter},
                             {"Tipo", 1400, Qt::AlignLeft | Qt::AlignVCenter}};
  // Row 0 is the grid's fixed header row; references occupy rows 1 and up.
  GridRefencias_->setColumnCount(4);
  GridRefencias_->setRowCount(1);
  GridRefencias_->horizontalHeader()->hide();
  GridRefencias_->verticalHeader()->hide();
  GridRefencias_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  GridRefencias_->setSelectionBehavior(QAbstractItemView::SelectRows);
  GridRefencias_->setSelectionMode(QAbstractItemView::ContiguousSelection);
  GridRefencias_->setWordWrap(false);
  for (int c = 0; c < 4; ++c) {
    auto* item = new QTableWidgetItem(QString::fromUtf8(cols[c].header));
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(palette().button());
    QFont f = item->font();
    f.setBold(true);
    item->setFont(f);
    GridRefencias_->setItem(0, c, item);
    GridRefencias_->setProperty(("align" + QByteArray::number(c)).constData(), int(cols[c].align));
    // A column one twip wide is no column at all on screen.
    if (cols[c].twips < kTwipsPerPixel) GridRefencias_->setColumnHidden(c, true);
    else GridRefencias_->setColumnWidth(c, cols[c].twips / kTwipsPerPixel);
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
  cmdUpload_->setEnabled(false);
  lostDataPending_ = false;
  clearReferences();
  Preparacao_->show();
  intake_->start(txtUploadFile_->text());
}

void FrmUpload::advanceProgress() {
  const int v = Progresso_->value() + kProgressStep;
  Progresso_->setValue(v > 100 ? 100 : v);
}

void FrmUpload::intakeDone(const Intake::Outcome& outcome) {
  lastOutcome_ = outcome;
  Preparacao_->hide();
  if (!outcome.error.isEmpty()) {
    MsgBox(this, QStringLiteral("Erro: não foi possível preparar o arquivo escolhido.\r\n\r\n") + outcome.error,
           QMessageBox::Critical, kMsgTitle);
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
  QList<QSqlRecord> rows;
  try {
    DbConnection db(intake_->settings().workDb);
    rows = db.query(QStringLiteral("select D.* from TAB03002 C inner join TAB03003 D on D.ID_03002 = C.ID_03002 "
                                   "WHERE C.IE = '") +
                    SqlQuote(ie) + QLatin1Char('\''));
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
    cmdUpload_->setEnabled(false);
    return;
  }
  if (rows.isEmpty()) {
    MsgBox(this, QStringLiteral("Erro: Arquivo não contém informações da empresa selecionada"), QMessageBox::NoIcon,
           kMsgTitle, QMessageBox::Ok);
    cmdUpload_->setEnabled(false);
    return;
  }
  GridRefencias_->setRowCount(1);
  QString tipo;
  for (const QSqlRecord& r : rows) {
    const int row = GridRefencias_->rowCount();
    GridRefencias_->insertRow(row);
    QString inicio = r.value(QStringLiteral("INICIO")).toString();
    QString fim = r.value(QStringLiteral("FIM")).toString();
    inicio.remove(QStringLiteral("00:00:00"));
    fim.remove(QStringLiteral("00:00:00"));
    const QString substitui = r.value(QStringLiteral("SUBSTITUI")).toString();
    // Any value other than N or S repeats the row above.
    if (substitui == QLatin1String("N")) tipo = QStringLiteral("Normal");
    else if (substitui == QLatin1String("S")) tipo = QStringLiteral("Substitutiva");
    const QString cells[4] = {r.value(QStringLiteral("ID_03003")).toString(), inicio + QStringLiteral(" a ") + fim,
                              kRegime, tipo};
    for (int c = 0; c < 4; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setTextAlignment(
          Qt::Alignment(GridRefencias_->property(("align" + QByteArray::number(c)).constData()).toInt()));
      GridRefencias_->setItem(row, c, item);
    }
  }
  WidenToContents(GridRefencias_, 1, 3);
  GridRefencias_->setCurrentCell(1, 1);
  cmdUpload_->setEnabled(!lostDataPending_);
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
  // The row where the selection ends is the current one; it began at the other end of the range.
  const int r2 = GridRefencias_->currentRow();
  int r1 = r2;
  const auto ranges = GridRefencias_->selectedRanges();
  for (const QTableWidgetSelectionRange& range : ranges) {
    if (r2 < range.topRow() || r2 > range.bottomRow()) continue;
    r1 = r2 == range.topRow() ? range.bottomRow() : range.topRow();
    break;
  }
  *downwards = r1 < r2;
  QList<ReferenceRow> rows;
  // Row 0 is the header: never a reference.
  for (int r = qMax(1, qMin(r1, r2)); r <= qMax(r1, r2) && r < GridRefencias_->rowCount(); ++r) {
    const QTableWidgetItem* key = GridRefencias_->item(r, 0);
    const QTableWidgetItem* text = GridRefencias_->item(r, 1);
    rows.append({key ? key->text() : QString(), text ? text->text() : QString()});
  }
  return rows;
}

void FrmUpload::cmdUpload_Click() {
  if (!certificateAccepted()) return;
  if (!fileChosen()) return;
  giaCerta = 0;
  const Session& session = Session::current();
  const QString anoTrabalho = session.workingYear();
  bool downwards = false;
  const QList<ReferenceRow> rows = selectedReferences(&downwards);
  const ReferenceWalk walk = WalkReferences(rows, downwards, anoTrabalho, &msgTrabalho);
  if (!walk.message.isEmpty()) MsgBox(this, walk.message, QMessageBox::NoIcon, kAppTitle, QMessageBox::Ok);
  giaCerta = qint16(walk.gias.size());
  if (giaCerta == 0) return;

  const QString url = uploadUrl(QStringLiteral(" /client_zide/xt_upload.php?contador=") + session.accountantDocument() +
                                QStringLiteral("&chave=") + session.taxpayer().chave + QStringLiteral("&gias=") +
                                walk.gias.join(QLatin1Char(',')));
  // The server gets the working database under the name of the declaration it came from.
  sendUpload(url, intake_->settings().workDb, QFileInfo(txtUploadFile_->text()).fileName());
}

void FrmUpload::answerReceived(const QByteArray&) {
  // Whatever the server says, the user sees the outcome in the refreshed list of transmissions.
  refreshMainAndUnload();
}

void FrmUpload::uploadFailed(int, const QString& description) {
  MsgBox(this, description, QMessageBox::Warning, QStringLiteral("ERROR"));
  emit uploadFinished(false);
}

// Leaving.

void FrmUpload::closeEvent(QCloseEvent* e) {
  intake_->cancel();
  TransmissionWindow::closeEvent(e);
}
