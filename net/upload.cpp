#include "net/upload.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <cmath>
#include <cstring>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "base/cp1252.h"
#include "base/settings.h"
#include "net/proxy.h"

namespace {
// One loopback segment at a time, as curl hands the kernel: 256 KiB slices made the same upload to
// the sandbox about a tenth slower.
constexpr qint64 kChunk = 64 * 1024;      // handed to the socket at a time
constexpr qint64 kInFlight = 256 * 1024;  // most kept queued in the socket's own buffer

// A declaration of tens of megabytes is read in one go: asking for large pages spares the
// thousands of page faults that cost as much as the read itself.
void adviseLargeBuffer(QByteArray& bytes) {
#ifdef __linux__
  constexpr quintptr kHuge = 2 * 1024 * 1024;
  if (bytes.size() < qsizetype(4 * kHuge)) return;
  const quintptr begin = (reinterpret_cast<quintptr>(bytes.data()) + kHuge - 1) & ~(kHuge - 1);
  const quintptr end = (reinterpret_cast<quintptr>(bytes.data()) + quintptr(bytes.size())) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  Q_UNUSED(bytes);
#endif
}
}  // namespace

QByteArray TryReadFileBytes(const QString& path, QString* error) {
  QFile file(path);
  if (!file.exists()) {
    if (error) *error = QStringLiteral("File not found: ") + path;
    return {};
  }
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return {};
  }
  const qint64 size = file.size();
  QByteArray bytes(size, Qt::Uninitialized);
  adviseLargeBuffer(bytes);
  qint64 got = 0;
  while (got < size) {
    const qint64 n = file.read(bytes.data() + got, size - got);
    if (n <= 0) {
      if (error) *error = n < 0 ? file.errorString() : QStringLiteral("Input past end of file");
      return {};
    }
    got += n;
  }
  if (error) error->clear();
  return bytes;
}

QString RandomBoundary(int length) {
  QString out;
  out.reserve(qMax(0, length));
  QRandomGenerator* rng = QRandomGenerator::global();
  while (out.size() < length) {
    const int c = int(rng->bounded(127));
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) out += QChar(c);
  }
  return out;
}

QByteArray BuildUploadRequest(QByteArray content, const UrlParts& url, const QString& fieldName,
                              const QString& fileName, const QString& contentType) {
  return BuildUploadRequest(std::move(content), url, fieldName, fileName, contentType, RandomBoundary(32));
}

UploadFraming BuildUploadFraming(qint64 contentSize, const UrlParts& url, const QString& fieldName,
                                 const QString& fileName, const QString& contentType, const QString& boundary) {
  const QByteArray b = toCp1252(boundary);
  QByteArray name = toCp1252(fileName);
  for (char& c : name)
    if (c == '"' || c == '\r' || c == '\n') c = '_';
  const QByteArray partHead = "--" + b + "\r\n" + "Content-Disposition: form-data; name=\"" + toCp1252(fieldName) +
                              "\"; filename=\"" + name + "\"\r\n" + "Content-Type: " + toCp1252(contentType) + "\r\n" +
                              "\r\n";
  UploadFraming f;
  f.tail = "\r\n--" + b + "--";
  const qint64 length = partHead.size() + contentSize + f.tail.size();
  f.head = "POST " + toCp1252(url.Path) + "?" + toCp1252(url.Query) + " HTTP/1.0\r\n" + "Host: " + toCp1252(url.Host) +
           "\r\n" + "Content-Type: multipart/form-data, boundary=" + b + "\r\n" +
           "Content-Length: " + QByteArray::number(length) + "\r\n" + "\r\n" + partHead;
  return f;
}

QByteArray BuildUploadRequest(QByteArray content, const UrlParts& url, const QString& fieldName,
                              const QString& fileName, const QString& contentType, const QString& boundary) {
  const UploadFraming f = BuildUploadFraming(content.size(), url, fieldName, fileName, contentType, boundary);
  // The content becomes the request where it lies: grow it, slide it right, write the framing around.
  const qsizetype body = content.size();
  content.reserve(f.head.size() + body + f.tail.size());
  content.resize(f.head.size() + body + f.tail.size());
  char* d = content.data();
  std::memmove(d + f.head.size(), d, size_t(body));
  std::memcpy(d, f.head.constData(), size_t(f.head.size()));
  std::memcpy(d + f.head.size() + body, f.tail.constData(), size_t(f.tail.size()));
  return content;
}

std::optional<UploadRequest> OpenUploadRequest(const QString& path, const UrlParts& url, const QString& fieldName,
                                               const QString& fileName, const QString& contentType, QString* error,
                                               const QString& boundary) {
  if (error) error->clear();
  auto file = std::make_shared<QFile>(path);
  if (!file->exists()) {
    if (error) *error = QStringLiteral("File not found: ") + path;
    return std::nullopt;
  }
  // Unbuffered: the slices go from the read straight to the socket, with no copy kept in between.
  if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    if (error) *error = file->errorString();
    return std::nullopt;
  }
  UploadRequest r;
  // The size of the file as opened: Content-Length and the bytes sent agree even if the name is
  // replaced meanwhile.
  r.fileSize = file->size();
  r.file = std::move(file);
  UploadFraming f = BuildUploadFraming(r.fileSize, url, fieldName, fileName, contentType,
                                       boundary.isEmpty() ? RandomBoundary(32) : boundary);
  r.head = std::move(f.head);
  r.tail = std::move(f.tail);
  return r;
}

qint64 UploadDeadlineMs(qint64 requestSize) {
  bool ok = false;
  const qint64 ms = qEnvironmentVariable("ZIDE_UPLOAD_PRAZO_MS").toLongLong(&ok);
  if (ok && ms > 0) return ms;
  return 5 * 60 * 1000 + qMax<qint64>(0, requestSize) / (64 * 1024) * 1000;
}

int ResolveUploadPort(const UrlParts& url, QString* error) {
  if (error) error->clear();
  if (url.PortOutOfRange) {
    if (error) *error = QStringLiteral("Invalid Port");
    return 0;
  }
  if (url.Port != 0) return url.Port;
  const qint64 setting = ParsePortText(ReadSetting(QStringLiteral("servidor"), QStringLiteral("port")));
  if (!IsValidPort(setting)) {
    if (error) *error = QStringLiteral("Invalid Port");
    return 0;
  }
  return int(setting);
}

std::optional<UploadTarget> ResolveUploadTarget(const UrlParts& url, QString* error) {
  if (error) error->clear();
  const SettingsSnapshot settings;
  if (!IsValidHost(url.Host)) {
    if (error) *error = QStringLiteral("Invalid Host");
    return std::nullopt;
  }
  UploadTarget t;
  t.host = url.Host;
  const int port = ResolveUploadPort(url, error);
  if (port == 0) return std::nullopt;
  t.port = quint16(port);
  const QString scheme = url.Scheme.toLower();
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
    if (error) *error = QStringLiteral("Invalid Protocol");
    return std::nullopt;
  }
  t.tls = scheme == QLatin1String("https");
  const auto proxy = ProxyFor(scheme, t.host, error);
  if (!proxy) return std::nullopt;
  t.proxy = *proxy;
  return t;
}

QString SendSpeedText(int percent) { return QString::number(percent) + QStringLiteral("% completo."); }

int SendPercent(qint64 totalEnvio, qint64 remaining) {
  if (totalEnvio == 0) return -1;
  // Computed as a double and rounded to the nearest integer, halves to the even neighbour.
  const double p = double(totalEnvio - remaining) / double(totalEnvio) * 100.0;
  return int(std::nearbyint(p));
}

Uploader::Uploader(QObject* parent) : QObject(parent) {
  idle_.setSingleShot(true);
  connect(&idle_, &QTimer::timeout, this, &Uploader::onIdle);
  deadline_.setSingleShot(true);
  deadline_.setTimerType(Qt::CoarseTimer);
  // However the server trickles, the upload ends: a partial answer is no answer.
  connect(&deadline_, &QTimer::timeout, this,
          [this] { fail(10060, QStringLiteral("Tempo esgotado sem resposta do servidor")); });
}

Uploader::~Uploader() {
  if (wait_) wait_->quit();
  if (socket_) {
    socket_->disconnect(this);
    socket_->abort();
  }
}

QString Uploader::responseText() const { return fromCp1252(response_); }

int Uploader::httpStatus() const {
  // Only a status line that arrived whole counts: "HTTP/1.0 2" cut short is not a 2xx.
  const qsizetype eol = response_.indexOf('\n');
  if (eol < 0) return 0;
  const QList<QByteArray> first = response_.left(eol).trimmed().split(' ');
  if (first.size() < 2 || !first[0].startsWith("HTTP/1.")) return 0;
  bool ok = false;
  const int status = first[1].toInt(&ok);
  return ok && status >= 100 && status <= 999 ? status : 0;
}

void Uploader::setConectado(bool on) {
  if (conectado_ == on) return;
  conectado_ = on;
  emit conectadoChanged(on);
}

bool Uploader::send(const QString& host, quint16 port, QByteArray request) {
  UploadTarget t;
  t.host = host;
  t.port = port;
  return send(t, std::move(request));
}

bool Uploader::send(const UploadTarget& target, QByteArray request) {
  UploadRequest whole;
  whole.head = std::move(request);
  return send(target, std::move(whole));
}

// A new socket for the target (TLS verified against the system's authorities or ZIDE_CA_FILE's,
// through the proxy's tunnel when one is set for https), its signals bound to this object.
void Uploader::openSocket(const UploadTarget& target) {
  if (socket_) socket_->deleteLater();
  QSslSocket* tls = nullptr;
  if (target.tls) {
    tls = new QSslSocket(this);
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    const QString caFile = CaFileOverride();
    if (!caFile.isEmpty()) conf.setCaCertificates(QSslCertificate::fromPath(caFile, QSsl::Pem));
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    tls->setSslConfiguration(conf);
    // Nothing goes to a server whose certificate does not check out.
    connect(tls, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
      QStringList texts;
      for (const QSslError& e : errors) texts << e.errorString();
      fail(10053, QStringLiteral("Certificado do servidor não confiável: ") + texts.join(QStringLiteral("; ")));
    });
    connect(tls, &QSslSocket::encrypted, this, &Uploader::onConnectionUp);
    socket_ = tls;
  } else {
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, &Uploader::onConnectionUp);
  }
  // The answer is read in bounded slices, so an endless one is cut at the limit.
  socket_->setReadBufferSize(1024 * 1024);
  if (!target.proxy.direct() && target.tls)
    socket_->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, target.proxy.host, quint16(target.proxy.port),
                                    target.proxy.user, target.proxy.password));
  else socket_->setProxy(QNetworkProxy::NoProxy);
  connect(socket_, &QTcpSocket::bytesWritten, this, &Uploader::onBytesWritten);
  connect(socket_, &QTcpSocket::readyRead, this, &Uploader::onReadyRead);
  connect(socket_, &QTcpSocket::disconnected, this, &Uploader::onDisconnected);
  connect(socket_, &QTcpSocket::errorOccurred, this, &Uploader::onSocketError);
}

bool Uploader::send(const UploadTarget& target, UploadRequest request) {
  // One send at a time: a second press of the button while this one is under way does nothing.
  if (state_ != State::Idle || wait_) return false;
  QByteArray& head = request.head;
  const bool viaPlainProxy = !target.proxy.direct() && !target.tls;
  if (viaPlainProxy) {
    // Through a proxy the request line names the whole address; the rest stays byte for byte.
    const qsizetype lineEnd = head.indexOf("\r\n");
    if (head.startsWith("POST /") && lineEnd > 0) {
      QByteArray credentials;
      if (!target.proxy.user.isEmpty())
        credentials = "Proxy-Authorization: Basic " +
                      (target.proxy.user + QLatin1Char(':') + target.proxy.password).toUtf8().toBase64() + "\r\n";
      head.insert(lineEnd + 2, credentials);
      head.insert(5, "http://" + toCp1252(target.host) + ':' + QByteArray::number(target.port));
    }
  }
  errorString_.clear();
  errorNumber_ = 0;
  head_ = std::move(head);
  file_ = std::move(request.file);
  fileSize_ = file_ ? request.fileSize : 0;
  tail_ = std::move(request.tail);
  total_ = head_.size() + fileSize_ + tail_.size();
  response_.clear();
  queued_ = written_ = 0;
  // Each send measures its own size, so the percentages of a second send are right too.
  totalEnvio_ = 0;

  openSocket(target);
  state_ = State::Connecting;
  idle_.start(connectTimeoutMs_);
  deadline_.start(std::chrono::milliseconds(deadlineMs_ > 0 ? deadlineMs_ : UploadDeadlineMs(total_)));
  if (target.tls) static_cast<QSslSocket*>(socket_)->connectToHostEncrypted(target.host, target.port);
  else if (viaPlainProxy) socket_->connectToHost(target.proxy.host, quint16(target.proxy.port));
  else socket_->connectToHost(target.host, target.port);
  // The wait lets window events run, so the window can be closed meanwhile (abort() ends it).
  if (!conectado_ && state_ == State::Connecting && !waitHere(0, QEventLoop::AllEvents)) return false;
  if (state_ != State::Connecting || !conectado_) return false;
  if (handOverDelayMs_ > 0) {
    if (!waitHere(handOverDelayMs_, QEventLoop::ExcludeUserInputEvents)) return false;
    // The server may have dropped the connection, or the window aborted, during the pause.
    if (state_ != State::Connecting || !socket_) return false;
  }

  state_ = State::Sending;
  idle_.start(idleTimeoutMs_);
  feed();
  return true;
}

void Uploader::onConnectionUp() {
  setConectado(true);
  emit connected();
  if (wait_) wait_->quit();
}

bool Uploader::waitHere(int ms, QEventLoop::ProcessEventsFlags flags) {
  QPointer<Uploader> self(this);
  QEventLoop loop;
  wait_ = &loop;
  if (ms > 0) QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec(flags);
  if (!self) return false;
  wait_ = nullptr;
  return true;
}

void Uploader::abort() { finishConnection(); }

// The request goes out in slices as the socket drains: the file is read a slice at a time, so the
// memory taken does not grow with it.
void Uploader::feed() {
  const qint64 fileEnd = head_.size() + fileSize_;
  while (socket_ && queued_ < total_ && socket_->bytesToWrite() < kInFlight) {
    qint64 w = 0;
    if (queued_ < head_.size()) {
      w = socket_->write(head_.constData() + queued_, qMin(kChunk, head_.size() - queued_));
    } else if (queued_ < fileEnd) {
      const qint64 want = qMin(kChunk, fileEnd - queued_);
      slice_.resize(want);
      const qint64 got = file_->read(slice_.data(), want);
      if (got <= 0) {
        // Content-Length promised more: the server must not take a cut file as the declaration.
        fail(10053, QStringLiteral("O arquivo mudou durante o envio (") +
                        (got < 0 ? file_->errorString() : QStringLiteral("ficou menor")) + QLatin1Char(')'));
        return;
      }
      w = socket_->write(slice_.constData(), got);
      if (w != got) w = -1;
    } else {
      w = socket_->write(tail_.constData() + (queued_ - fileEnd), total_ - queued_);
    }
    if (w <= 0) return;
    queued_ += w;
  }
}

void Uploader::onBytesWritten(qint64 n) {
  if (state_ != State::Sending) return;
  written_ += n;
  idle_.start(idleTimeoutMs_);
  const qint64 remaining = total_ - written_;
  emit sendProgress(written_, remaining);
  if (totalEnvio_ == 0) totalEnvio_ = remaining;
  const int p = SendPercent(totalEnvio_, remaining);
  if (p >= 0) {
    const QString text = SendSpeedText(p);
    if (p != percent_ || text != sendSpeedText_) {
      percent_ = p;
      sendSpeedText_ = text;
      emit progressChanged(p, text);
    }
  }
  if (remaining > 0) {
    feed();
    return;
  }
  state_ = State::WaitingAnswer;
  file_.reset();
  slice_ = QByteArray();
  sendSpeedText_ = kSendCompleteText;
  setConectado(false);
  emit sendComplete(kSendCompleteText);
}

void Uploader::onReadyRead() {
  if (!socket_) return;
  const QByteArray chunk = socket_->readAll();
  if (chunk.isEmpty()) return;
  if (response_.size() + chunk.size() > kMaxAnswerBytes) {
    fail(10053, QStringLiteral("Resposta do servidor maior que %1 MiB").arg(kMaxAnswerBytes / (1024 * 1024)));
    return;
  }
  response_ += chunk;
  if (state_ == State::WaitingAnswer || state_ == State::Sending) state_ = State::Receiving;
  idle_.start(idleTimeoutMs_);
  emit dataArrival(chunk, response_.size());
}

void Uploader::onDisconnected() {
  if (!socket_) return;
  // Whatever is still buffered belongs to the answer.
  while (socket_ && socket_->bytesAvailable() > 0) onReadyRead();
  if (!socket_) return;  // the answer was refused meanwhile
  const bool answered = !response_.isEmpty();
  finishConnection();
  emit closed();
  if (answered) emit answerComplete(response_, httpStatus());
  else fail(10054, QStringLiteral("Connection is reset by remote side"));
}

void Uploader::onSocketError() {
  if (!socket_) return;
  const QAbstractSocket::SocketError e = socket_->error();
  // The server closing after its answer is the normal end of an HTTP/1.0 exchange.
  if (e == QAbstractSocket::RemoteHostClosedError && !response_.isEmpty()) return;
  const QString detail = socket_->errorString();
  // A reset before the connection was up is a refusal, however the socket happened to notice it.
  if (state_ == State::Connecting && e == QAbstractSocket::RemoteHostClosedError) {
    fail(10061, QStringLiteral("Connection is forcefully rejected"));
    return;
  }
  switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
      fail(10061, QStringLiteral("Connection is forcefully rejected"));
      break;
    case QAbstractSocket::HostNotFoundError: fail(11001, QStringLiteral("Authoritative answer: Host not found")); break;
    case QAbstractSocket::SocketTimeoutError: fail(10060, QStringLiteral("Connection timed out")); break;
    case QAbstractSocket::RemoteHostClosedError:
      fail(10054, QStringLiteral("Connection is reset by remote side"));
      break;
    default:
      fail(10053, QStringLiteral("Connection is aborted due to timeout or other failure (") + detail + ')');
      break;
  }
}

void Uploader::onIdle() {
  if (state_ == State::Idle) return;
  // A server that answered but keeps the connection open has nothing more to say: take the answer.
  if (state_ == State::Receiving && !response_.isEmpty()) {
    finishConnection();
    emit closed();
    emit answerComplete(response_, httpStatus());
    return;
  }
  fail(10060, QStringLiteral("Connection timed out"));
}

void Uploader::finishConnection() {
  idle_.stop();
  deadline_.stop();
  file_.reset();
  slice_ = QByteArray();
  if (socket_) {
    socket_->disconnect(this);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
  }
  state_ = State::Idle;
  setConectado(false);
  if (wait_) wait_->quit();
}

void Uploader::fail(int number, const QString& description) {
  finishConnection();
  errorNumber_ = number;
  errorString_ = description;
  emit errorOccurred(number, description);
}
