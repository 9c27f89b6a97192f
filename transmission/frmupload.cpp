#include "transmission/frmupload.h"

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
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/interaction.h"
#include "app/principal.h"
#include "registry/errorreport.h"
#include "registry/localdb.h"

namespace {
constexpr int kTwipsPerPixel = 15;
constexpr int kProgressStep = 2;  // 100 / 47, rounded half to even
const QString kRegime = QStringLiteral("Débito e Crédito");
constexpr int kDirPathRole = Qt::UserRole;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  return l;
}

QLineEdit* hiddenText(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QString::fromLatin1(name));
  e->hide();
  return e;
}
}  // namespace

FrmUpload::FrmUpload() : intake_(new Intake(this)) {
  setObjectName(QStringLiteral("frmUpload"));
  setWindowTitle(QStringLiteral("Selecione o arquivo GDB para Entrega  - Prefeitura Municipal de Tavarel"));
  resize(12390 / kTwipsPerPixel, 5385 / kTwipsPerPixel);

  Label1_ = makeLabel(this, "Label1", QStringLiteral("Transmissão de Declaração - ZIDE - Débito e Crédito"));
  QFont big = Label1_->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  Label1_->setFont(big);
  Label2_ = makeLabel(this, "Label2",
                      QStringLiteral("Selecione o arquivo que deseja enviar. Para contribuintes inscritos no Regime "
                                     "Débito e Crédito o arquivo a ser enviado é com extensão .GDB"));
  Label2_->setWordWrap(true);

  Drive1_ = new QComboBox(this);
  Drive1_->setObjectName(QStringLiteral("Drive1"));
  dir_ = new QListWidget(this);
  dir_->setObjectName(QStringLiteral("dir"));
  file_ = new QListWidget(this);
  file_->setObjectName(QStringLiteral("file"));

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

  ProgressBar1_ = new QProgressBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);
  lblSendSpeed_ = makeLabel(this, "lblSendSpeed", QStringLiteral("100% restante"));
  cmdUpload_ = new QPushButton(QStringLiteral("&Enviar"), this);
  cmdUpload_->setObjectName(QStringLiteral("cmdUpload"));
  cmdUpload_->setDefault(true);
  cmdUpload_->setEnabled(false);
  Command2_ = new QPushButton(QStringLiteral("&Cancelar"), this);
  Command2_->setObjectName(QStringLiteral("Command2"));

  // Controls the user never sees.
  Command1_ = new QPushButton(QStringLiteral("Selecionar GIAs"), this);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->hide();
  txtUploadFile_ = hiddenText(this, "txtUploadFile");
  txtName_ = hiddenText(this, "txtName", QStringLiteral("objArquivo"));
  txtMIMEType_ = hiddenText(this, "txtMIMEType", QStringLiteral("application/octet-stream"));
  txtUrl_ = hiddenText(this, "txtUrl");
  txtRequest_ = new QPlainTextEdit(this);
  txtRequest_->setObjectName(QStringLiteral("txtRequest"));
  txtRequest_->hide();
  txtResponse_ = new QPlainTextEdit(this);
  txtResponse_->setObjectName(QStringLiteral("txtResponse"));
  txtResponse_->hide();

  auto* lists = new QVBoxLayout;
  lists->addWidget(Drive1_);
  lists->addWidget(dir_, 1);
  lists->addWidget(file_, 1);
  auto* middle = new QHBoxLayout;
  middle->addLayout(lists, 2);
  middle->addWidget(Frame1_, 5);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(ProgressBar1_, 1);
  bottom->addWidget(lblSendSpeed_);
  bottom->addSpacing(12);
  bottom->addWidget(cmdUpload_);
  bottom->addWidget(Command2_);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(Label1_);
  lay->addWidget(Label2_);
  lay->addLayout(middle, 1);
  lay->addLayout(bottom);

  connect(Drive1_, &QComboBox::activated, this, [this] { Drive1_Change(); });
  connect(dir_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    dirPath_ = item->data(kDirPathRole).toString();
    dir_Change();
  });
  connect(file_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0) file_Click();
  });
  connect(Command1_, &QPushButton::clicked, this, &FrmUpload::Command1_Click);
  connect(Command2_, &QPushButton::clicked, this, &FrmUpload::Command2_Click);

  connect(intake_, &Intake::occurrence, ocorrencia_, &QLabel::setText);
  connect(intake_, &Intake::advanced, this, &FrmUpload::advanceProgress);
  connect(intake_, &Intake::loadingStarted, this, [this] { Progresso_->setValue(1); });
  connect(intake_, &Intake::finished, this, &FrmUpload::intakeDone);

  Form_Load();
  fillDrives();
  setFolder(QDir::homePath());
}

FrmUpload::~FrmUpload() = default;

void FrmUpload::Form_Load() {
  giaCerta = 0;
  msgTrabalho = false;
  totalEnvio = 0;
  buildGrid();
  try {
    LocalDatabase::Connection db;
    const auto rows = db.query(QStringLiteral("SELECT * FROM  tblContador"));
    if (!rows.isEmpty()) {
      QString doc = rows.first().value(QStringLiteral("cont_cpf_cnpj")).toString();
      doc.remove(QLatin1Char('.')).remove(QLatin1Char('-')).remove(QLatin1Char('/'));
      docContador = doc;
    }
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
  }
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

// Drive, folder and file lists.

void FrmUpload::fillDrives() {
  Drive1_->clear();
  const QString home = QDir::homePath();
  Drive1_->addItem(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Pasta pessoal (%1)").arg(home), home);
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
    if (!v.isValid() || !v.isReady()) continue;
    const QString root = v.rootPath();
    const QString name = v.displayName() == root ? root : QStringLiteral("%1 (%2)").arg(v.displayName(), root);
    Drive1_->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), name, root);
  }
}

void FrmUpload::Drive1_Change() {
  const QString root = Drive1_->currentData().toString();
  if (root.isEmpty()) return;
  dirPath_ = root;
  dir_Change();
}

void FrmUpload::dir_Change() {
  fillDirs();
  fillFiles();
}

void FrmUpload::setFolder(const QString& path) {
  dirPath_ = QDir(path).absolutePath();
  // The drive is the longest listed root that holds the folder.
  int best = -1;
  qsizetype bestLen = -1;
  for (int i = 0; i < Drive1_->count(); ++i) {
    const QString root = Drive1_->itemData(i).toString();
    const bool holds = dirPath_ == root || dirPath_.startsWith(root.endsWith('/') ? root : root + '/');
    if (holds && root.size() > bestLen) {
      best = i;
      bestLen = root.size();
    }
  }
  if (best >= 0) Drive1_->setCurrentIndex(best);
  dir_Change();
}

void FrmUpload::fillDirs() {
  dir_->clear();
  // The open folders from the root down, then the folders inside the current one.
  QStringList chain;
  for (QDir d(dirPath_);; ) {
    chain.prepend(d.absolutePath());
    if (d.isRoot() || !d.cdUp()) break;
  }
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  int depth = 0;
  for (const QString& p : chain) {
    const QString name = QFileInfo(p).fileName().isEmpty() ? p : QFileInfo(p).fileName();
    auto* item = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, dir_);
    item->setData(kDirPathRole, p);
    ++depth;
  }
  dir_->setCurrentRow(dir_->count() - 1);
  const QFileInfoList subs =
      QDir(dirPath_).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& fi : subs) {
    auto* item = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + fi.fileName(), dir_);
    item->setData(kDirPathRole, fi.absoluteFilePath());
  }
}

void FrmUpload::fillFiles() {
  // A new folder starts with nothing chosen, so listing it starts no intake.
  const QSignalBlocker block(file_);
  file_->clear();
  for (const QFileInfo& fi : QDir(dirPath_).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase))
    file_->addItem(fi.fileName());
  file_->setCurrentRow(-1);
}

bool FrmUpload::chooseFile(const QString& name) {
  const auto found = file_->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  const int row = file_->row(found.first());
  if (row == file_->currentRow()) file_Click();  // choosing it again starts over too
  else file_->setCurrentRow(row);
  return true;
}

// Choosing the file and converting it.

void FrmUpload::file_Click() {
  QListWidgetItem* item = file_->currentItem();
  if (!item) return;
  const QString name = item->text();
  const QString path = QDir(dirPath_).filePath(name);
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
  if (outcome.failedStatements > 0) {
    const QString text =
        QStringLiteral("%1 registros da declaração não puderam ser carregados.\r\n\r\n"
                       "Primeira falha: tabela %2 - %3\r\n\r\n"
                       "Sem esses registros a declaração enviada ficará incompleta. Deseja enviá-la assim mesmo?")
            .arg(outcome.failedStatements)
            .arg(outcome.firstFailedTable, outcome.firstFailedError);
    lostDataPending_ = MsgBox(this, text, QMessageBox::Warning, kMsgTitle, QMessageBox::Yes | QMessageBox::No) !=
                       QMessageBox::Yes;
  }
  Command1_Click();
  emit intakeFinished();
}

void FrmUpload::clearReferences() { GridRefencias_->setRowCount(1); }

// Listing the references.

void FrmUpload::Command1_Click() {
  Principal* main = Forms::find<Principal>();
  if (main)
    if (auto* path = main->findChild<QLabel*>(QStringLiteral("PathMDB"))) path->setText(txtUploadFile_->text());
  const QString ie = main ? main->selectedIE() : QString();
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
      item->setTextAlignment(Qt::Alignment(GridRefencias_->property(("align" + QByteArray::number(c)).constData()).toInt()));
      GridRefencias_->setItem(row, c, item);
    }
  }
  // The described widths are a minimum: a period is never cut on screen.
  for (int c = 1; c < 4; ++c) {
    const int wanted = GridRefencias_->columnWidth(c);
    GridRefencias_->resizeColumnToContents(c);
    if (GridRefencias_->columnWidth(c) < wanted) GridRefencias_->setColumnWidth(c, wanted);
  }
  GridRefencias_->setCurrentCell(1, 1);
  cmdUpload_->setEnabled(!lostDataPending_);
  if (main) main->setEnabled(true);
}

// Leaving.

void FrmUpload::giveMainWindowBack() {
  if (Principal* main = Forms::find<Principal>()) main->setEnabled(true);
}

void FrmUpload::Command2_Click() {
  giveMainWindowBack();
  hide();
}

void FrmUpload::closeEvent(QCloseEvent* e) {
  intake_->cancel();
  giveMainWindowBack();
  FormBase<QWidget>::closeEvent(e);
}
