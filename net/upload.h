#pragma once
#include <QByteArray>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include "net/proxy.h"
#include "net/urlhelper.h"

class QFile;
class QTcpSocket;

// The multipart upload of a declaration: one HTTP/1.0 POST written by hand on a plain TCP connection.

// The whole file, or an empty content with *error set (the system's description of the failure).
// The windows use ReadFileBytes (gui/transmission/uploadui.h), which also shows the failure.
QByteArray TryReadFileBytes(const QString& path, QString* error);

// n characters, each one of the 62 ASCII letters and digits.
QString RandomBoundary(int length);

// The request: rows 1-5 (request line, Host, Content-Type with a comma before "boundary=",
// Content-Length, blank line) and the body of one part ending in "--B--" without CR LF.
// Path, query, field and file names go in as Windows-1252; the content goes in unchanged.
// Pass the content with std::move: it then becomes the request in place, without a second copy.
QByteArray BuildUploadRequest(QByteArray content, const UrlParts& url, const QString& fieldName,
                              const QString& fileName, const QString& contentType);
// The same with a given boundary (a new random one of 32 characters otherwise).
QByteArray BuildUploadRequest(QByteArray content, const UrlParts& url, const QString& fieldName,
                              const QString& fileName, const QString& contentType, const QString& boundary);

// Rows 1-9 (head) and row 11 (tail) of the request around a file of contentSize bytes. The file
// name's '"', CR and LF become '_', so the header stays one line whatever the name holds.
struct UploadFraming {
  QByteArray head;
  QByteArray tail;
};
UploadFraming BuildUploadFraming(qint64 contentSize, const UrlParts& url, const QString& fieldName,
                                 const QString& fileName, const QString& contentType, const QString& boundary);

// A request whose file is read in slices while it goes out: head, the file's first fileSize bytes,
// tail; the same bytes as BuildUploadRequest, without ever holding the file. A request without a
// file is held whole in head.
struct UploadRequest {
  QByteArray head;
  std::shared_ptr<QFile> file;  // open for reading, at its start
  qint64 fileSize = 0;
  QByteArray tail;
  qint64 size() const { return head.size() + fileSize + tail.size(); }
};
// Opens the file and frames it (a new random boundary when none is given); nullopt with *error (the
// system's description of the failure) when it cannot be opened.
std::optional<UploadRequest> OpenUploadRequest(const QString& path, const UrlParts& url, const QString& fieldName,
                                               const QString& fileName, const QString& contentType, QString* error,
                                               const QString& boundary = QString());

// How long one upload may take from the connection to the end of the answer: 5 minutes plus one
// second per 64 KiB of the request (a slow office line), or ZIDE_UPLOAD_PRAZO_MS milliseconds.
qint64 UploadDeadlineMs(qint64 requestSize);

// The port to connect to: the URL's own, else the "port" setting. 0 with *error = "Invalid Port"
// when neither gives a TCP port (1 to 65535), the same rule as the SOAP exchange's.
int ResolveUploadPort(const UrlParts& url, QString* error);

// Where the upload's bytes go: the URL's server, over TLS for an https URL, through the proxy
// ProxyFor chooses (an http upload then names the absolute URI in its request line, as an HTTP/1.0
// client does; an https one asks the proxy for a tunnel).
struct UploadTarget {
  QString host;
  quint16 port = 0;
  bool tls = false;
  ProxyRoute proxy;
};
// nullopt with *error "Invalid Host", "Invalid Port", "Invalid Protocol" or the proxy's complaint.
std::optional<UploadTarget> ResolveUploadTarget(const UrlParts& url, QString* error);

// Texts the windows show in lblSendSpeed.
inline const QString kSendSpeedStart = QStringLiteral("100% restante");
inline const QString kSendCompleteText = QStringLiteral("Aguarde, carregando informações");
// "<p>% completo." for a whole percentage.
QString SendSpeedText(int percent);
// The percentage of one progress event: (total - remaining) / total * 100, halves to the even
// neighbour; -1 when the total is 0.
int SendPercent(qint64 totalEnvio, qint64 remaining);

// The socket side of a transmission window. The window owns one, binds its widgets to the
// signals and reacts to the answer; the object itself shows nothing.
//
//   connected()                         -> the Connect event (conectado is now true)
//   sendProgress(sent, remaining)       -> SendProgress, raw numbers
//   progressChanged(percent, text)      -> ProgressBar1 := percent, lblSendSpeed := text (the first
//                                          event fixes totalEnvio, so it shows 0; a request that goes
//                                          out in one event shows no percentage, only the completion)
//   sendComplete(text)                  -> SendComplete: lblSendSpeed := text (conectado false again)
//   dataArrival(chunk, total)           -> DataArrival: bytes of this event and all received so far
//   closed()                            -> the server closed the connection (Close event)
//   answerComplete(answer, httpStatus)  -> the whole answer, at the server's close (HTTP/1.0 ends so)
//   errorOccurred(number, description)  -> the Error event: Winsock-style number and text
//
// Faults always end in errorOccurred (connection refused, reset during the send, a close with no
// answer, no progress for idleTimeoutMs, the overall deadline, an answer above kMaxAnswerBytes, a
// server certificate that is not trusted, a file that shrank while it was read); the object then is
// idle again and may send anew.
class Uploader : public QObject {
  Q_OBJECT
 public:
  enum class State { Idle, Connecting, Sending, WaitingAnswer, Receiving };
  Q_ENUM(State)

  explicit Uploader(QObject* parent = nullptr);
  ~Uploader() override;

  State state() const { return state_; }
  bool conectado() const { return conectado_; }
  // Size taken from the first progress event of the current send.
  qint64 totalEnvio() const { return totalEnvio_; }
  int percent() const { return percent_; }
  // txtRequest and txtResponse: the last request's bytes held in memory (all of it when it was
  // handed over whole, up to the file's bytes when the file is streamed) and every byte of the
  // answer so far.
  const QByteArray& request() const { return head_; }
  qint64 requestSize() const { return total_; }
  const QByteArray& response() const { return response_; }
  QString responseText() const;  // the answer read as Windows-1252
  // Status of the answer's first line, 0 when the answer is not HTTP (or its first line has not
  // arrived whole).
  int httpStatus() const;
  QString errorString() const { return errorString_; }
  int errorNumber() const { return errorNumber_; }

  void setConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }
  void setIdleTimeoutMs(int ms) { idleTimeoutMs_ = ms; }
  // The overall deadline of the next sends; 0 (the default): UploadDeadlineMs of each request.
  void setDeadlineMs(qint64 ms) { deadlineMs_ = ms; }
  // A pause between the connection coming up and the request being handed over (window events
  // keep running, user input waits).
  void setHandOverDelayMs(int ms) { handOverDelayMs_ = ms; }

  // The sending sequence: connect to host:port, wait (window events keep running) until the
  // connection is up, has failed or abort() was called, then hand the whole request over.
  // True when the request is on its way; false when busy, aborted or the connection failed
  // (errorOccurred was emitted for a failure). Progress, completion and the answer follow as signals.
  bool send(const QString& host, quint16 port, QByteArray request);
  // The same to a resolved target: TLS (certificate always verified, the system's authorities or
  // ZIDE_CA_FILE's) and the proxy.
  bool send(const UploadTarget& target, QByteArray request);
  // The same with the file read while it goes out.
  bool send(const UploadTarget& target, UploadRequest request);
  // Ends any wait and closes the connection without further signals (the window is closing).
  void abort();

 signals:
  void connected();
  void sendProgress(qint64 bytesSent, qint64 bytesRemaining);
  void progressChanged(int percent, const QString& text);
  void sendComplete(const QString& text);
  void dataArrival(const QByteArray& chunk, qint64 bytesTotal);
  void closed();
  void answerComplete(const QByteArray& answer, int httpStatus);
  void errorOccurred(int number, const QString& description);
  void conectadoChanged(bool conectado);

 private:
  void setConectado(bool on);
  // Runs window events until the wait is ended (connection up, failure, abort) or ms pass (0: no
  // limit). False when this object was destroyed meanwhile.
  bool waitHere(int ms, QEventLoop::ProcessEventsFlags flags);
  void openSocket(const UploadTarget& target);
  void feed();
  void onBytesWritten(qint64 n);
  void onReadyRead();
  void onDisconnected();
  void onSocketError();
  void onIdle();
  void onConnectionUp();
  void fail(int number, const QString& description);
  void finishConnection();

  QTcpSocket* socket_ = nullptr;
  QEventLoop* wait_ = nullptr;
  QTimer idle_;
  QTimer deadline_;
  State state_ = State::Idle;
  bool conectado_ = false;
  qint64 totalEnvio_ = 0;
  int percent_ = 0;
  QString sendSpeedText_ = kSendSpeedStart;
  QByteArray head_;
  std::shared_ptr<QFile> file_;
  qint64 fileSize_ = 0;
  QByteArray tail_;
  QByteArray slice_;  // the file's bytes being handed over
  qint64 total_ = 0;
  qint64 queued_ = 0;   // bytes of the request handed to the socket
  qint64 written_ = 0;  // bytes the socket reports as written
  QByteArray response_;
  QString errorString_;
  int errorNumber_ = 0;
  int connectTimeoutMs_ = 30000;
  int idleTimeoutMs_ = 60000;
  int handOverDelayMs_ = 0;
  qint64 deadlineMs_ = 0;
};
