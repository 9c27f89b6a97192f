#include "gui/transmission/transmissionwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStorageInfo>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "base/cp1252.h"
#include "base/settings.h"
#include "base/usersettings.h"
#include "gui/transmission/uploadui.h"
#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/interaction.h"
#include "net/upload.h"
#include "net/urlhelper.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "transmission/companyupload.h"

namespace {
constexpr int kDirPathRole = Qt::UserRole;
const QString kLastFolderKey = QStringLiteral("transmissao/pasta");

QString lastFolder() { return ReadUserSetting(kLastFolderKey); }
void rememberFolder(const QString& folder) { WriteUserSetting(kLastFolderKey, folder); }

// A list that jumps to the entry whose name begins with what is typed; the folder list indents
// its names, so the blanks in front do not count.
class JumpList : public QListWidget {
 public:
  using QListWidget::QListWidget;
  // Whether a name is being typed: a blank then belongs to the name, it does not choose.
  bool typing() const { return typed_.isValid() && typed_.elapsed() <= QApplication::keyboardInputInterval(); }
  void keyboardSearch(const QString& search) override {
    if (search.isEmpty()) return;
    if (!typed_.isValid() || typed_.elapsed() > QApplication::keyboardInputInterval()) prefix_.clear();
    typed_.start();
    const bool fresh = prefix_.isEmpty() || (search.size() == 1 && prefix_ == search);
    prefix_ = prefix_ == search ? search : prefix_ + search;
    const int n = count();
    // A repeated first letter moves on to the next entry that begins with it.
    const int start = fresh ? currentRow() + 1 : qMax(0, currentRow());
    for (int i = 0; i < n; ++i) {
      const int row = (start + i) % n;
      if (!item(row)->text().trimmed().startsWith(prefix_, Qt::CaseInsensitive)) continue;
      setCurrentRow(row);
      scrollToItem(item(row));
      return;
    }
  }

 private:
  QString prefix_;
  QElapsedTimer typed_;
};
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

QLayout* TransmissionWindow::folderColumn() {
  auto* lay = new QVBoxLayout;
  lay->addWidget(txtCaminho_);
  lay->addWidget(Drive1_);
  lay->addWidget(dir_, 1);
  return lay;
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
  lay->addWidget(lblContribuinte_);
  lay->addLayout(middle, 1);
  lay->addLayout(bottom);
}

TransmissionWindow::TransmissionWindow() : uploader_(new Uploader(this)) {
  createControls();
  connectControls();
  connectUploader();
  followCompany();
  fillDrives();
}

void TransmissionWindow::createControls() {
  txtCaminho_ = new QLineEdit(this);
  txtCaminho_->setObjectName(QStringLiteral("txtCaminho"));
  txtCaminho_->setPlaceholderText(QStringLiteral("Digite ou cole o caminho da pasta e tecle Enter"));
  txtCaminho_->setClearButtonEnabled(true);
  lblContribuinte_ = new QLabel(this);
  lblContribuinte_->setObjectName(QStringLiteral("lblContribuinte"));
  Drive1_ = new QComboBox(this);
  Drive1_->setObjectName(QStringLiteral("Drive1"));
  dir_ = new JumpList(this);
  dir_->setObjectName(QStringLiteral("dir"));
  file_ = new JumpList(this);
  file_->setObjectName(QStringLiteral("file"));
  file_->installEventFilter(this);
  txtCaminho_->installEventFilter(this);

  ProgressBar1_ = new QProgressBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);
  lblSendSpeed_ = new QLabel(kSendSpeedStart, this);
  lblSendSpeed_->setObjectName(QStringLiteral("lblSendSpeed"));
  // As wide as its longest text from the start, so the progress bar beside it does not shrink when
  // the send completes.
  lblSendSpeed_->setMinimumWidth(lblSendSpeed_->fontMetrics().horizontalAdvance(kSendCompleteText));
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
}

void TransmissionWindow::connectControls() {
  connect(Drive1_, &QComboBox::activated, this, [this] { Drive1_Change(); });
  // The drive list follows the folder, so it always names the drive being looked at.
  connect(dir_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { setFolder(item->data(kDirPathRole).toString()); });
  // Moving through the list only highlights; a click, Enter or Space chooses (a click on the file
  // already chosen chooses it again: a new try of the same file).
  connect(file_, &QListWidget::itemClicked, this, &TransmissionWindow::fileListClicked);
  connect(cmdUpload_, &QPushButton::clicked, this, &TransmissionWindow::pressEnviar);
  connect(Command2_, &QPushButton::clicked, this, &TransmissionWindow::Command2_Click);
}

// The socket's events.
void TransmissionWindow::connectUploader() {
  connect(uploader_, &Uploader::conectadoChanged, this, [this](bool on) { conectado = on; });
  connect(uploader_, &Uploader::progressChanged, this, [this](int percent, const QString& text) {
    totalEnvio = qint32(qMin<qint64>(uploader_->totalEnvio(), INT32_MAX));
    lblSendSpeed_->setText(text);
    ProgressBar1_->setValue(percent);
  });
  connect(uploader_, &Uploader::sendComplete, this, [this](const QString& text) {
    handedOver_ = true;
    if (totalEnvio == 0) totalEnvio = qint32(qMin<qint64>(uploader_->totalEnvio(), INT32_MAX));
    lblSendSpeed_->setText(text);
  });
  connect(uploader_, &Uploader::dataArrival, this, [this](const QByteArray& chunk, qint64) {
    txtResponse_->moveCursor(QTextCursor::End);
    txtResponse_->insertPlainText(fromCp1252(chunk));
  });
  connect(uploader_, &Uploader::answerComplete, this, &TransmissionWindow::takeAnswer);
  connect(uploader_, &Uploader::errorOccurred, this, &TransmissionWindow::takeFailure);
}

// The window's contents belong to one company: a change reaches it at once, or when it is
// shown again.
void TransmissionWindow::followCompany() {
  const Session::Taxpayer& t = Session::current().taxpayer();
  companyIe_ = t.ie;
  companyKey_ = t.chave;
  showCompany();
  connect(&Session::current(), &Session::taxpayerChanged, this, [this] {
    const Session::Taxpayer& now = Session::current().taxpayer();
    if (now.ie == companyIe_ && now.chave == companyKey_) return;
    companyIe_ = now.ie;
    companyKey_ = now.chave;
    showCompany();
    if (!isVisible()) {
      companyStale_ = true;
      setSendable(false);
      return;
    }
    taxpayerChanged();
  });
}

void TransmissionWindow::showCompany() {
  const Session::Taxpayer& t = Session::current().taxpayer();
  lblContribuinte_->setText(t.ie.isEmpty() ? QStringLiteral("Nenhum contribuinte selecionado")
                                           : QStringLiteral("Contribuinte: %1 - IE %2").arg(t.razaoSocial, t.ie));
}

void TransmissionWindow::showEvent(QShowEvent* e) {
  FormBase<QWidget>::showEvent(e);
  if (!companyStale_) return;
  companyStale_ = false;
  taxpayerChanged();
}

bool TransmissionWindow::eventFilter(QObject* watched, QEvent* e) {
  // Enter or Space on a file chooses it, also when it is the one already chosen.
  if (watched == file_ && e->type() == QEvent::KeyPress) {
    const auto* k = static_cast<QKeyEvent*>(e);
    const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
    const bool space = k->key() == Qt::Key_Space && !static_cast<JumpList*>(file_)->typing();
    if ((enter || space) && (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && file_->currentRow() >= 0) {
      chooseCurrentFile();
      return true;
    }
  }
  // Enter in the path box opens the folder and goes no further: the window's default button is
  // "Enviar", which a typed path must never press.
  if (watched == txtCaminho_ && e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      txtCaminho_Enter();
      return true;
    }
  }
  return FormBase<QWidget>::eventFilter(watched, e);
}

void TransmissionWindow::fileListClicked(QListWidgetItem* item) {
  if (!item) return;
  // The second click of a double click is the same choice, not a new try.
  const int row = file_->row(item);
  if (row == lastClickRow_ && lastClick_.isValid() && lastClick_.elapsed() < QApplication::doubleClickInterval())
    return;
  lastClickRow_ = row;
  lastClick_.start();
  chooseCurrentFile();
}

void TransmissionWindow::chooseCurrentFile() {
  if (file_->currentRow() < 0) return;
  file_->setCurrentRow(file_->currentRow(), QItemSelectionModel::ClearAndSelect);
  rememberFolder(dirPath_);
  file_Click();
}

void TransmissionWindow::txtCaminho_Enter() {
  QString typed = txtCaminho_->text().trimmed();
  if (typed.size() > 1 && typed.startsWith(QLatin1Char('"')) && typed.endsWith(QLatin1Char('"')))
    typed = typed.mid(1, typed.size() - 2);
  if (typed.startsWith(QLatin1Char('~'))) typed.replace(0, 1, QDir::homePath());
  const QFileInfo fi(typed);
  if (!typed.isEmpty() && fi.isDir()) {
    setFolder(fi.absoluteFilePath());
    return;
  }
  if (!typed.isEmpty() && fi.isFile()) {
    setFolder(fi.absolutePath());
    chooseFile(fi.fileName());
    return;
  }
  MsgBox(this, QStringLiteral("A pasta \"%1\" não foi encontrada.").arg(txtCaminho_->text().trimmed()),
         QMessageBox::Warning, kMsgTitle);
  txtCaminho_->setText(QDir::toNativeSeparators(dirPath_));
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
  const QString last = lastFolder();
  return !last.isEmpty() && QDir(last).exists() ? last : QDir::homePath();
}

void TransmissionWindow::Drive1_Change() {
  const QString root = Drive1_->currentData().toString();
  if (root.isEmpty()) return;
  dirPath_ = root;
  dir_Change();
  txtCaminho_->setText(QDir::toNativeSeparators(dirPath_));
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
  txtCaminho_->setText(QDir::toNativeSeparators(dirPath_));
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
  file_->setCurrentRow(file_->row(found.first()));
  chooseCurrentFile();  // choosing it again starts over too
  return true;
}

QString TransmissionWindow::chosenName() const {
  const QListWidgetItem* item = file_->currentItem();
  return item ? item->text() : QString();
}

QString TransmissionWindow::chosenPath() const { return QDir(dirPath_).filePath(chosenName()); }

// The upload.

void TransmissionWindow::setSendable(bool on) {
  sendable_ = on;
  cmdUpload_->setEnabled(on && !busy_);
}

void TransmissionWindow::pressEnviar() {
  if (busy_) return;
  busy_ = true;
  cmdUpload_->setEnabled(false);
  QPointer<TransmissionWindow> self(this);
  cmdUpload_Click();
  // A press that sent nothing is over; one under way ends with the answer or the failure.
  if (self && !closing_ && uploader_->state() == Uploader::State::Idle && busy_) endPress();
}

void TransmissionWindow::endPress() {
  busy_ = false;
  cmdUpload_->setEnabled(sendable_);
}

bool TransmissionWindow::accountantAndKeyKnown() {
  const Session& s = Session::current();
  if (!s.accountantDocument().isEmpty() && !s.taxpayer().chave.isEmpty()) return true;
  MsgBox(this,
         QStringLiteral("A declaração não pode ser enviada: faltam os dados do contador ou a chave de acesso do "
                        "contribuinte selecionado na janela principal.\r\n\r\nFeche esta janela e use \"Escolher "
                        "arquivo para transmitir\" na janela principal."),
         QMessageBox::Warning, kMsgTitle);
  return false;
}

bool TransmissionWindow::certificateAccepted() {
  cert_.docContador = docContador;
  cert_.certificadoOk = certificadoOk;
  cert_.SelecionarCertificado(this, Session::current().serverDate());
  certificadoOk = cert_.certificadoOk;
  return certificadoOk && !conectado;
}

bool TransmissionWindow::sendAgain(const QStringList& months) {
  const QString text =
      months.size() == 1
          ? QStringLiteral("A referência %1 já consta na lista de transmissões.\r\n\r\nDeseja enviá-la novamente?")
                .arg(months.first())
          : QStringLiteral("As referências %1 já constam na lista de transmissões.\r\n\r\nDeseja enviá-las novamente?")
                .arg(months.join(QStringLiteral(", ")));
  return Interaction::current().question(this, QMessageBox::Question, kMsgTitle, text,
                                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool TransmissionWindow::fileChosen() {
  if (!txtUploadFile_->text().isEmpty()) return true;
  MsgBox(this, QStringLiteral("No File Chosen"), QMessageBox::Critical, QStringLiteral("ERROR"));
  return false;
}

bool TransmissionWindow::sendUpload(const QString& url, const QString& contentPath, const QString& fileName,
                                    const QString& fileLabel, int pauseBeforeMs, int pauseAfterMs) {
  txtUrl_->setText(url);
  const Session& session = Session::current();
  attempt_.ie = session.taxpayer().ie;
  attempt_.razaoSocial = session.taxpayer().razaoSocial;
  attempt_.contador = session.accountantDocument();
  CompanyUpload::Opened opened = CompanyUpload::Open(url, contentPath, fileName, &attempt_);
  if (opened.status == CompanyUpload::OpenStatus::BadAddress) {
    MsgBox(this, opened.error, QMessageBox::Critical, QStringLiteral("ERROR"));
    return false;
  }
  if (opened.status == CompanyUpload::OpenStatus::Empty || opened.status == CompanyUpload::OpenStatus::Unreadable) {
    const QString why = opened.status == CompanyUpload::OpenStatus::Empty
                            ? QStringLiteral("está vazio")
                            : QStringLiteral("não pôde ser lido (") + opened.error + QLatin1Char(')');
    MsgBox(this,
           QStringLiteral("A declaração não foi enviada: o arquivo %1 %2.\r\n\r\nEscolha o arquivo da declaração de "
                          "novo.")
               .arg(fileLabel, why),
           QMessageBox::Critical, kMsgTitle);
    return false;
  }
  if (opened.status == CompanyUpload::OpenStatus::FingerprintFailed) {
    MsgBox(this,
           QStringLiteral("A declaração não foi enviada: o arquivo %1 não pôde ser lido (%2).\r\n\r\nEscolha o "
                          "arquivo da declaração de novo.")
               .arg(fileLabel, opened.error),
           QMessageBox::Critical, kMsgTitle);
    return false;
  }
  UploadRequest* request = &*opened.request;
  txtResponse_->clear();
  handedOver_ = false;
  attempt_.startedAt = QDateTime::currentDateTime();
  attempt_.serverStartedAt = session.serverNow();
  attempt_.before = session.transmissionRows();
  txtRequest_->setPlainText(QString::fromLatin1(
      request->head + request->file->peek(qMax<qint64>(0, kRequestBoxLimit - request->head.size()))));
  // The connection comes first; the pauses wrap the moment the request is handed over.
  QPointer<TransmissionWindow> self(this);
  uploader_->setHandOverDelayMs(pauseBeforeMs);
  const bool sent = uploader_->send(*opened.target, std::move(*request));
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

void TransmissionWindow::takeAnswer(const QByteArray& answer, int httpStatus) {
  conclude(true, httpStatus, answer,
           httpStatus == 0 ? QStringLiteral("o servidor respondeu algo que não é uma resposta válida") : QString());
}

void TransmissionWindow::takeFailure(int number, const QString& description) {
  if (!handedOver_) {
    const Delivery::Result o = Delivery::Conclude(attempt_, false, false, 0, {}, std::nullopt, description);
    if (o.journalError) ErrorReport::show(this, *o.journalError);
    uploadFailed(number, description);
    return;
  }
  conclude(false, 0, {}, CompanyUpload::FailureAfterHandOver(number));
}

void TransmissionWindow::conclude(bool answered, int httpStatus, const QByteArray& answer, const QString& failure) {
  handedOver_ = false;
  giveMainWindowBack();
  QPointer<TransmissionWindow> self(this);
  if (answered && afterAnswerPauseMs() > 0 && !pause(afterAnswerPauseMs())) return;
  // A garbled answer is no answer: it says nothing about what the server did.
  const bool read = answered && httpStatus != 0;
  const QStringList markers = read ? markerMessages(answer) : QStringList();
  for (const QString& m : markers) {
    MsgBox(this, m, QMessageBox::NoIcon, kAppTitle, QMessageBox::Ok);
    if (!self) return;
  }
  // The list after the send, as the main window reads it; unchanged when it could not be read.
  Session& session = Session::current();
  const quint64 serial = session.listSerial();
  session.requestRefresh();
  if (!self) return;
  std::optional<QList<Transmissions::Row>> after;
  if (session.listSerial() != serial) after = session.transmissionRows();
  const Delivery::Result o = Delivery::Conclude(attempt_, true, read, httpStatus, answer, after, failure);
  lastVerdict_ = o.verdict;
  if (o.journalError) ErrorReport::show(this, *o.journalError);
  if (!self) return;
  const bool done = o.verdict.done();
  // The markers' own messages already told why the server refused.
  if (markers.isEmpty() || o.verdict.outcome != Verdict::Outcome::Refused)
    MsgBox(this, Verdict::Message(o.verdict, verdictExtra_), done ? QMessageBox::Information : QMessageBox::Warning,
           kMsgTitle);
  if (!self) return;
  emit uploadFinished(done);
  if (done) {
    close();
    return;
  }
  endPress();
}

void TransmissionWindow::giveMainWindowBack() { Session::current().releaseMainWindow(); }

void TransmissionWindow::Command2_Click() {
  stopWork();
  giveMainWindowBack();
  hide();
}

void TransmissionWindow::closeEvent(QCloseEvent* e) {
  closing_ = true;
  uploader_->abort();
  giveMainWindowBack();
  FormBase<QWidget>::closeEvent(e);
}
