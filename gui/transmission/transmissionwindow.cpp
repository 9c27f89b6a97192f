#include "gui/transmission/transmissionwindow.h"

#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "base/cp1252.h"
#include "base/settings.h"
#include "gui/transmission/uploadui.h"
#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/interaction.h"
#include "net/upload.h"
#include "net/urlhelper.h"
#include "registry/localdb.h"
#include "registry/session.h"

namespace {
constexpr int kDirPathRole = Qt::UserRole;
QString lastFolder;  // of the last file chosen, for the next window
// The hidden request box keeps what a text box would hold: the headers and the start of the file.
constexpr qsizetype kRequestBoxLimit = 64 * 1024;

QLineEdit* hiddenText(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QString::fromLatin1(name));
  e->hide();
  return e;
}

QPlainTextEdit* hiddenBox(QWidget* parent, const char* name) {
  auto* e = new QPlainTextEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->hide();
  return e;
}
}  // namespace

QLabel* TransmissionWindow::makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  return l;
}

void TransmissionWindow::makeHeading(QLabel* label) {
  QFont big = label->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  label->setFont(big);
}

void TransmissionWindow::layOut(QLabel* title, QLabel* text, QLayout* middle) {
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(ProgressBar1_, 1);
  bottom->addWidget(lblSendSpeed_);
  bottom->addSpacing(12);
  bottom->addWidget(cmdUpload_);
  bottom->addWidget(Command2_);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(title);
  lay->addWidget(text);
  lay->addLayout(middle, 1);
  lay->addLayout(bottom);
}

TransmissionWindow::TransmissionWindow() : uploader_(new Uploader(this)) {
  Drive1_ = new QComboBox(this);
  Drive1_->setObjectName(QStringLiteral("Drive1"));
  dir_ = new QListWidget(this);
  dir_->setObjectName(QStringLiteral("dir"));
  file_ = new QListWidget(this);
  file_->setObjectName(QStringLiteral("file"));

  ProgressBar1_ = new QProgressBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);
  lblSendSpeed_ = new QLabel(kSendSpeedStart, this);
  lblSendSpeed_->setObjectName(QStringLiteral("lblSendSpeed"));
  cmdUpload_ = new QPushButton(QStringLiteral("&Enviar"), this);
  cmdUpload_->setObjectName(QStringLiteral("cmdUpload"));
  cmdUpload_->setDefault(true);
  cmdUpload_->setEnabled(false);
  Command2_ = new QPushButton(QStringLiteral("&Cancelar"), this);
  Command2_->setObjectName(QStringLiteral("Command2"));

  txtUploadFile_ = hiddenText(this, "txtUploadFile");
  txtName_ = hiddenText(this, "txtName", QStringLiteral("objArquivo"));
  txtMIMEType_ = hiddenText(this, "txtMIMEType", QStringLiteral("application/octet-stream"));
  txtUrl_ = hiddenText(this, "txtUrl");
  txtRequest_ = hiddenBox(this, "txtRequest");
  txtResponse_ = hiddenBox(this, "txtResponse");

  connect(Drive1_, &QComboBox::activated, this, [this] { Drive1_Change(); });
  // The drive list follows the folder, so it always names the drive being looked at.
  connect(dir_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { setFolder(item->data(kDirPathRole).toString()); });
  connect(file_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    lastFolder = dirPath_;
    file_Click();
  });
  connect(cmdUpload_, &QPushButton::clicked, this, [this] { cmdUpload_Click(); });
  connect(Command2_, &QPushButton::clicked, this, &TransmissionWindow::Command2_Click);

  // The socket's events.
  connect(uploader_, &Uploader::conectadoChanged, this, [this](bool on) { conectado = on; });
  connect(uploader_, &Uploader::progressChanged, this, [this](int percent, const QString& text) {
    totalEnvio = qint32(qMin<qint64>(uploader_->totalEnvio(), INT32_MAX));
    lblSendSpeed_->setText(text);
    ProgressBar1_->setValue(percent);
  });
  connect(uploader_, &Uploader::sendComplete, this, [this](const QString& text) {
    if (totalEnvio == 0) totalEnvio = qint32(qMin<qint64>(uploader_->totalEnvio(), INT32_MAX));
    lblSendSpeed_->setText(text);
  });
  connect(uploader_, &Uploader::dataArrival, this, [this](const QByteArray& chunk, qint64) {
    txtResponse_->moveCursor(QTextCursor::End);
    txtResponse_->insertPlainText(fromCp1252(chunk));
  });
  connect(uploader_, &Uploader::answerComplete, this,
          [this](const QByteArray& answer, int) { answerReceived(answer); });
  connect(uploader_, &Uploader::errorOccurred, this,
          [this](int number, const QString& description) { uploadFailed(number, description); });

  fillDrives();
}

TransmissionWindow::~TransmissionWindow() = default;

void TransmissionWindow::loadAccountant() {
  totalEnvio = 0;
  try {
    cert_.DadosContador();
    docContador = cert_.docContador;
  } catch (const DbError& e) { ErrorReport::show(this, e); }
}

// Drive, folder and file lists.

void TransmissionWindow::fillDrives() {
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

QString TransmissionWindow::startFolder() {
  return !lastFolder.isEmpty() && QDir(lastFolder).exists() ? lastFolder : QDir::homePath();
}

void TransmissionWindow::Drive1_Change() {
  const QString root = Drive1_->currentData().toString();
  if (root.isEmpty()) return;
  dirPath_ = root;
  dir_Change();
}

void TransmissionWindow::dir_Change() {
  fillDirs();
  fillFiles();
}

void TransmissionWindow::setFolder(const QString& path) {
  dirPath_ = QDir::cleanPath(QDir(path).absolutePath());
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

void TransmissionWindow::fillDirs() {
  dir_->clear();
  // The open folders from the root down, then the folders inside the current one.
  QStringList chain;
  for (QDir d(dirPath_);;) {
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

void TransmissionWindow::fillFiles() {
  // A new folder starts with nothing chosen, so listing it chooses nothing.
  const QSignalBlocker block(file_);
  file_->clear();
  for (const QFileInfo& fi : QDir(dirPath_).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase))
    file_->addItem(fi.fileName());
  file_->setCurrentRow(-1);
}

bool TransmissionWindow::chooseFile(const QString& name) {
  const auto found = file_->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  const int row = file_->row(found.first());
  if (row == file_->currentRow()) file_Click();  // choosing it again starts over too
  else file_->setCurrentRow(row);
  return true;
}

QString TransmissionWindow::chosenName() const {
  const QListWidgetItem* item = file_->currentItem();
  return item ? item->text() : QString();
}

QString TransmissionWindow::chosenPath() const { return QDir(dirPath_).filePath(chosenName()); }

// The upload.

bool TransmissionWindow::certificateAccepted() {
  cert_.docContador = docContador;
  cert_.certificadoOk = certificadoOk;
  cert_.SelecionarCertificado(this, Session::current().serverDate());
  certificadoOk = cert_.certificadoOk;
  return certificadoOk && !conectado;
}

bool TransmissionWindow::fileChosen() {
  if (!txtUploadFile_->text().isEmpty()) return true;
  MsgBox(this, QStringLiteral("No File Chosen"), QMessageBox::Critical, QStringLiteral("ERROR"));
  return false;
}

QString TransmissionWindow::uploadUrl(const QString& target) {
  // An unknown protocolo gives a scheme the upload refuses, never a silent plain-text send.
  return ConfiguredScheme().value_or(QStringLiteral("invalido")) + QStringLiteral("://") +
         ReadSetting(QStringLiteral("servidor"), QStringLiteral("host")) + QLatin1Char(':') +
         ReadSetting(QStringLiteral("servidor"), QStringLiteral("port")) + target;
}

bool TransmissionWindow::sendUpload(const QString& url, const QString& contentPath, const QString& fileName,
                                    int pauseBeforeMs, int pauseAfterMs) {
  txtUrl_->setText(url);
  const UrlParts parts = SplitUrl(url);
  // The same address rule as the SOAP exchange: nothing leaves the machine for a bad one.
  QString addressError;
  const auto target = ResolveUploadTarget(parts, &addressError);
  if (!target) {
    MsgBox(this, addressError, QMessageBox::Critical, QStringLiteral("ERROR"));
    return false;
  }
  txtResponse_->clear();
  QByteArray request =
      BuildUploadRequest(ReadFileBytes(contentPath, this), parts, txtName_->text(), fileName, txtMIMEType_->text());
  txtRequest_->setPlainText(QString::fromLatin1(request.left(kRequestBoxLimit)));
  // The connection comes first; the pauses wrap the moment the request is handed over.
  QPointer<TransmissionWindow> self(this);
  uploader_->setHandOverDelayMs(pauseBeforeMs);
  const bool sent = uploader_->send(*target, std::move(request));
  if (!self || closing_) return false;
  if (sent && pauseAfterMs > 0) pause(pauseAfterMs);
  return sent;
}

bool TransmissionWindow::pause(int ms) {
  QPointer<TransmissionWindow> self(this);
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  return self && !closing_;
}

void TransmissionWindow::refreshMainAndUnload() {
  Session::current().releaseMainWindow();
  Session::current().requestRefresh();
  emit uploadFinished(true);
  close();
}

void TransmissionWindow::giveMainWindowBack() { Session::current().releaseMainWindow(); }

void TransmissionWindow::Command2_Click() {
  giveMainWindowBack();
  hide();
}

void TransmissionWindow::closeEvent(QCloseEvent* e) {
  closing_ = true;
  uploader_->abort();
  giveMainWindowBack();
  FormBase<QWidget>::closeEvent(e);
}
