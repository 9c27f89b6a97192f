#include "net/soap.h"

#include <curl/curl.h>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <QXmlStreamReader>

#include <atomic>
#include <mutex>
#include <thread>

#include "base/cp1252.h"
#include "base/settings.h"
#include "net/proxy.h"
#include "net/urlhelper.h"
#include "net/xmlread.h"

QString GenerateSoapBodyStart() {
  return QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<soap12:Envelope "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"> "
      "<soap12:Body>");
}

QString GenerateSoapBodyEnd() { return QStringLiteral("</soap12:Body></soap12:Envelope>"); }

QString GenerateSoapFunctionCallStart(const QString& strFunction) {
  return QLatin1Char('<') + strFunction + QStringLiteral(" xmlns=\"\">");
}

QString GenerateSoapFunctionCallEnd(const QString& strFunction) {
  return QStringLiteral("</") + strFunction + QLatin1Char('>');
}

QString EscapeSoapValue(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (QChar c : value) {
    if (c == QLatin1Char('&')) out += QLatin1String("&amp;");
    else if (c == QLatin1Char('<')) out += QLatin1String("&lt;");
    else if (c == QLatin1Char('>')) out += QLatin1String("&gt;");
    else out += c;
  }
  return out;
}

// A value can only ever be text inside its element: "&", "<" and ">" go as entities, so a name
// read from an imported file cannot change the request. Ordinary values keep their bytes.
QString GenerateSoapParameter(const QString& strParam, const QString& strValue) {
  return QLatin1Char('<') + strParam + QLatin1Char('>') + EscapeSoapValue(strValue) + QStringLiteral("</") + strParam +
         QLatin1Char('>');
}

QString BuildSoapBody(const QString& operation, const QList<SoapParam>& params) {
  QString body = GenerateSoapBodyStart() + GenerateSoapFunctionCallStart(operation);
  for (const SoapParam& p : params) body += GenerateSoapParameter(p.name, p.value);
  return body + GenerateSoapFunctionCallEnd(operation) + GenerateSoapBodyEnd();
}

namespace {
int g_timeoutMs = 60000;
QString g_lastError;

constexpr qint64 kDefaultDeadlineMs = 5 * 60 * 1000;
constexpr long kConnectTimeoutMs = 30000;
constexpr long kMaxRedirects = 5;

// The answer's text: the charset the server names, else the XML declaration's, else UTF-8.
QString decodeBody(const QByteArray& body, const QByteArray& contentType) {
  QByteArray charset;
  static const QRegularExpression headerCharset(QStringLiteral("charset\\s*=\\s*\"?([A-Za-z0-9._:-]+)"),
                                                QRegularExpression::CaseInsensitiveOption);
  const auto m = headerCharset.match(QString::fromLatin1(contentType));
  if (m.hasMatch()) {
    charset = m.captured(1).toLatin1().toLower();
  } else if (body.startsWith("<?xml")) {
    static const QRegularExpression declCharset(
        QStringLiteral("^<\\?xml[^>]*encoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)"));
    const auto d = declCharset.match(QString::fromLatin1(body.left(200)));
    if (d.hasMatch()) charset = d.captured(1).toLatin1().toLower();
  }
  if (charset == "windows-1252" || charset == "cp1252") return fromCp1252(body);
  if (!charset.isEmpty() && charset != "utf-8" && charset != "utf8") {
    QStringDecoder dec(charset.constData());
    if (dec.isValid()) return dec.decode(body);
  }
  return QString::fromUtf8(body);
}

// One POST, everything the transfer needs owned here, so the worker thread touches nothing else.
struct Exchange {
  QByteArray url;
  QByteArray body;
  QByteArray soapAction;
  QByteArray proxy;  // empty: straight to the server
  QByteArray caFile;
  long deadlineMs = 0;
  long idleSeconds = 60;
  QByteArray answer;
  bool tooLarge = false;
  CURLcode code = CURLE_OK;
  long status = 0;
  QByteArray contentType;
  QByteArray refusedRedirect;  // a Location that leaves the service's scheme, host or port
  char errorText[CURL_ERROR_SIZE] = {};
};

// Scheme, host and port of an absolute URL, the default port filled in.
QString origin(const QByteArray& url) {
  const QUrl u = QUrl::fromEncoded(url, QUrl::StrictMode);
  if (!u.isValid() || u.host().isEmpty()) return QString();
  const QString scheme = u.scheme().toLower();
  const int port = u.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
  return scheme + QStringLiteral("://") + u.host().toLower() + QLatin1Char(':') + QString::number(port);
}

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  if (qint64(ex->answer.size()) + qint64(n) > kMaxAnswerBytes) {
    ex->tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  ex->answer.append(data, qsizetype(n));
  return n;
}

// A curl easy handle inside a multi handle of its own: the transfer advances by steps, on whichever
// thread holds the pair (never two at once), so a quick exchange need not change threads.
class Handles {
 public:
  Handles() : easy_(curl_easy_init()), multi_(curl_multi_init()) {}
  ~Handles() {
    if (multi_) curl_multi_cleanup(multi_);
    if (easy_) curl_easy_cleanup(easy_);
  }
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  bool ok() const { return easy_ && multi_; }
  CURL* easy() const { return easy_; }
  CURLM* multi() const { return multi_; }

 private:
  CURL* easy_;
  CURLM* multi_;
};

// The exchange with its redirects: the same POST goes again only to the service's own scheme, host
// and port (a moved path), never elsewhere and never from https down to http; the deadline counts
// over all of them.
class Transfer {
 public:
  Transfer(Handles& handles, Exchange& ex) : h_(handles), ex_(ex), home_(origin(ex.url)), url_(ex.url) {
    clock_.start();
    if (!h_.ok()) finish(CURLE_FAILED_INIT);
    else startHop();
  }
  ~Transfer() { detach(); }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Advances the exchange for at most ms milliseconds (negative: until it ends). Whether it ended.
  bool drive(int ms) {
    QElapsedTimer spent;
    spent.start();
    while (!done_) {
      int running = 0;
      if (curl_multi_perform(h_.multi(), &running) != CURLM_OK) {
        finish(CURLE_FAILED_INIT);
        break;
      }
      int queued = 0;
      CURLMsg* msg = nullptr;
      while (!done_ && (msg = curl_multi_info_read(h_.multi(), &queued)))
        if (msg->msg == CURLMSG_DONE) hopEnded(msg->data.result);
      if (done_) break;
      // A hop just started makes curl's own timeout zero, so the poll below returns at once.
      int wait = 1000;
      if (ms >= 0) {
        const qint64 left = ms - spent.elapsed();
        if (left <= 0) return false;
        wait = int(qMin<qint64>(left, wait));
      }
      curl_multi_poll(h_.multi(), nullptr, 0, wait, nullptr);
    }
    return true;
  }

 private:
  void startHop() {
    const long left = ex_.deadlineMs - long(clock_.elapsed());
    if (left <= 0) {
      finish(CURLE_OPERATION_TIMEDOUT);
      return;
    }
    ex_.answer.clear();
    configure(left);
    if (curl_multi_add_handle(h_.multi(), h_.easy()) != CURLM_OK) {
      finish(CURLE_FAILED_INIT);
      return;
    }
    attached_ = true;
  }

  void configure(long timeoutMs) {
    CURL* h = h_.easy();
    curl_easy_reset(h);
    headers_ = curl_slist_append(headers_, "Content-Type: text/xml");
    headers_ = curl_slist_append(headers_, QByteArray("SOAPAction: " + ex_.soapAction).constData());
    // No "Expect: 100-continue" pause before the body, and no Accept the old client never sent.
    headers_ = curl_slist_append(headers_, "Expect:");
    headers_ = curl_slist_append(headers_, "Accept:");
    curl_easy_setopt(h, CURLOPT_URL, url_.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, ex_.body.constData());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(ex_.body.size()));
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    // A fresh connection that is never kept: a request is only ever sent again when the program
    // asks, never because a kept connection turned out dead.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    // Redirects are judged here, one by one, before anything is sent again.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, ex_.idleSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxAnswerBytes));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // The proxy is chosen by the program's own rule; an empty text keeps curl from its own choice.
    curl_easy_setopt(h, CURLOPT_PROXY, ex_.proxy.constData());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ex_.caFile.isEmpty()) {
      curl_easy_setopt(h, CURLOPT_CAINFO, ex_.caFile.constData());
      curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex_);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, ex_.errorText);
  }

  // One request is over: its status, type and a redirect's target, then the next hop or the end.
  void hopEnded(CURLcode code) {
    CURL* h = h_.easy();
    ex_.code = code;
    ex_.status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &ex_.status);
    char* type = nullptr;
    ex_.contentType.clear();
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) ex_.contentType = type;
    char* next = nullptr;
    QByteArray location;
    if (code == CURLE_OK && curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &next) == CURLE_OK && next) location = next;
    detach();
    const bool redirect =
        ex_.status == 301 || ex_.status == 302 || ex_.status == 303 || ex_.status == 307 || ex_.status == 308;
    if (code != CURLE_OK || location.isEmpty() || !redirect) {
      done_ = true;
      return;
    }
    if (origin(location) != home_) {
      ex_.refusedRedirect = location;
      done_ = true;
      return;
    }
    if (++hop_ > kMaxRedirects) {
      finish(CURLE_TOO_MANY_REDIRECTS);
      return;
    }
    url_ = location;
    startHop();
  }

  void detach() {
    if (attached_) curl_multi_remove_handle(h_.multi(), h_.easy());
    attached_ = false;
    curl_slist_free_all(headers_);
    headers_ = nullptr;
  }

  void finish(CURLcode code) {
    detach();
    ex_.code = code;
    done_ = true;
  }

  Handles& h_;
  Exchange& ex_;
  const QString home_;
  QByteArray url_;
  QElapsedTimer clock_;
  long hop_ = 0;
  curl_slist* headers_ = nullptr;
  bool attached_ = false;
  bool done_ = false;
};

// A counter one thread bumps and another waits to see change, on a bare futex: one system call to
// wait and one to wake. Every wake-up between threads costs more than the exchange's own work on a
// loaded machine (and more again under a hypervisor), so the hand-over makes no more of them than it
// must; a mutex and condition variable made three or four per exchange.
class Counter {
 public:
  quint32 value() const { return v_.load(std::memory_order_acquire); }
  void bump() {
    v_.fetch_add(1, std::memory_order_acq_rel);
    syscall(SYS_futex, &v_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
  // Until the value differs from seen (no limit).
  void waitPast(quint32 seen) const {
    while (value() == seen) syscall(SYS_futex, &v_, FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
  }

 private:
  static_assert(sizeof(std::atomic<quint32>) == sizeof(quint32) && std::atomic<quint32>::is_always_lock_free);
  mutable std::atomic<quint32> v_{0};
};

// The calling thread drives an exchange itself for its first few milliseconds: a quick answer (the
// common case) then costs no wake-up between threads at all. One that takes longer moves, handles
// and all, to one worker thread kept for the program's life, and the caller waits in an event loop
// that keeps the windows painted (user input waits).
class SoapWorker {
 public:
  // curl (and OpenSSL under it) is set up here, before the thread exists: its clean-up at exit is
  // then registered before this object's destructor and runs after the worker has been joined.
  // Set up on the worker instead, it ran first and left the worker's per-thread state behind.
  SoapWorker() : ready_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK), thread_([this] { run(); }) {}
  ~SoapWorker() {
    stop_.store(true);
    jobs_.bump();
    thread_.join();
  }

  void run(Exchange& ex) {
    if (!ready_) {
      ex.code = CURLE_FAILED_INIT;
      return;
    }
    if (busy_) {
      // An exchange started by an event of the loop another exchange waits in: handles of its own.
      Handles own;
      Transfer t(own, ex);
      if (!t.drive(kDirectWaitMs)) handOver(t, true);
      return;
    }
    busy_ = true;
    Transfer t(handles_, ex);
    if (!t.drive(kDirectWaitMs)) handOver(t, false);
    busy_ = false;
  }

 private:
  // Short enough not to be seen as a frozen window.
  static constexpr int kDirectWaitMs = 15;

  // The rest of the transfer on another thread while the caller's loop runs.
  void handOver(Transfer& t, bool alone) {
    QEventLoop loop;
    if (alone) {
      std::thread worker([&] {
        t.drive(-1);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
      });
      loop.exec(QEventLoop::ExcludeUserInputEvents);
      worker.join();
      return;
    }
    const quint32 seen = done_.value();
    {
      std::lock_guard lock(loopMutex_);
      job_ = &t;
      loop_ = &loop;
    }
    jobs_.bump();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // Something else may end the loop first (the application quitting): the transfer is on the
    // caller's stack, so the worker must be done with it before this returns.
    done_.waitPast(seen);
    std::lock_guard lock(loopMutex_);
    loop_ = nullptr;
  }

  void run() {
    for (quint32 seen = 0;;) {
      jobs_.waitPast(seen);
      seen = jobs_.value();
      if (stop_.load()) break;
      job_->drive(-1);
      std::lock_guard lock(loopMutex_);
      done_.bump();
      if (loop_) QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
    }
  }

  Counter jobs_;  // bumped by the caller: job_ holds the next transfer, or stop_ is set
  Counter done_;  // bumped by the worker when the transfer is done
  Transfer* job_ = nullptr;
  std::atomic<bool> stop_{false};
  bool busy_ = false;           // the calling thread's own flag
  std::mutex loopMutex_;        // loop_ against the worker's end of a transfer
  QEventLoop* loop_ = nullptr;  // the caller's loop while the worker has its transfer
  const bool ready_;
  Handles handles_;     // the caller's or the worker's, never both at once
  std::thread thread_;  // last: started once every member above exists
};

void performWaiting(Exchange& ex) {
  static SoapWorker worker;
  worker.run(ex);
}

QString failureText(const Exchange& ex) {
  if (!ex.refusedRedirect.isEmpty())
    return QStringLiteral(
               "Redirecionamento recusado: o servidor mandou o pedido para outro endereço (%1); "
               "nada foi enviado para lá")
        .arg(QString::fromUtf8(ex.refusedRedirect.left(200)));
  if (ex.tooLarge || ex.code == CURLE_FILESIZE_EXCEEDED)
    return QStringLiteral("Resposta do servidor maior que %1 MiB").arg(kMaxAnswerBytes / (1024 * 1024));
  switch (ex.code) {
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("Tempo esgotado sem resposta do servidor");
    case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("Redirecionamentos demais");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return QStringLiteral("Certificado do servidor não confiável: ") + QString::fromUtf8(ex.errorText);
    default: break;
  }
  const QString detail = QString::fromUtf8(ex.errorText);
  return detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(ex.code)) : detail;
}
}  // namespace

void SetSoapInactivityTimeoutMs(int ms) { g_timeoutMs = ms > 0 ? ms : 60000; }
QString LastSoapError() { return g_lastError; }

qint64 SoapDeadlineMs() {
  bool ok = false;
  const qint64 ms = qEnvironmentVariable("ZIDE_SOAP_PRAZO_MS").toLongLong(&ok);
  return ok && ms > 0 ? ms : kDefaultDeadlineMs;
}

bool SendSoapRequest(const QString& operation, const QList<SoapParam>& params, QString* responseText) {
  if (responseText) responseText->clear();
  g_lastError.clear();

  // One read of the settings file for the address, the port, the protocol and the proxy.
  const SettingsSnapshot settings;
  QString error;
  const auto server = ConfiguredServer(&error);
  if (!server) {
    g_lastError = QStringLiteral("Endereço do servidor inválido: ") + error;
    return false;
  }
  const auto proxy = ProxyFor(server->scheme, server->host, &error);
  if (!proxy) {
    g_lastError = error;
    return false;
  }

  Exchange ex;
  ex.url = (server->scheme + QStringLiteral("://") + server->host + QLatin1Char(':') + QString::number(server->port) +
            QLatin1String(kSoapPath))
               .toUtf8();
  ex.body = BuildSoapBody(operation, params).toUtf8();
  ex.soapAction = operation.toUtf8();
  ex.soapAction.replace('\r', ' ').replace('\n', ' ');
  if (!proxy->direct()) {
    QUrl p;
    p.setScheme(QStringLiteral("http"));
    p.setHost(proxy->host);
    p.setPort(proxy->port);
    p.setUserName(proxy->user);
    p.setPassword(proxy->password);
    ex.proxy = p.toEncoded();
  }
  ex.caFile = QFile::encodeName(CaFileOverride());
  ex.deadlineMs = long(SoapDeadlineMs());
  ex.idleSeconds = long((g_timeoutMs + 999) / 1000);
  performWaiting(ex);

  if (ex.code != CURLE_OK || !ex.refusedRedirect.isEmpty()) {
    g_lastError = failureText(ex);
    return false;
  }
  if (responseText) *responseText = decodeBody(ex.answer, ex.contentType);
  return true;
}

// "/*/*/*/<resultParam>": any element on the first three levels, then the named element in no
// namespace. The whole document must be well-formed, as a DOM load would demand. Nothing outside
// the text is fetched: the stream reader never resolves external entities.
bool GetResult(const QString& responseText, const QString& resultParam, QString* result) {
  if (result) result->clear();
  QXmlStreamReader xml(responseText);
  int depth = 0;
  int capturingAt = 0;  // depth of the chosen element while its text is collected
  bool found = false;
  QString text;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement:
        ++depth;
        if (!found && depth == 4 && xml.name() == resultParam && xml.prefix().isEmpty() &&
            xml.namespaceUri().isEmpty()) {
          found = true;
          capturingAt = depth;
        }
        break;
      case QXmlStreamReader::EndElement:
        if (capturingAt && depth == capturingAt) capturingAt = 0;
        --depth;
        break;
      case QXmlStreamReader::Characters:
        if (capturingAt) text += xml.text();
        break;
      case QXmlStreamReader::EntityReference:
        // An entity the document never declared: a DOM load refuses that too.
        xml.raiseError(QStringLiteral("unresolved entity"));
        break;
      case QXmlStreamReader::DTD: RefuseDoctype(xml); break;
      default: break;
    }
  }
  if (xml.hasError() || !found) return false;
  if (result) *result = text;
  return true;
}

SoapReplyKind ReadSoapReply(const QString& responseText, QString* faultReason) {
  if (faultReason) faultReason->clear();
  static const QString soap11 = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
  static const QString soap12 = QStringLiteral("http://www.w3.org/2003/05/soap-envelope");
  QXmlStreamReader xml(responseText);
  QString ns;
  int depth = 0;
  bool body = false, fault = false;
  int faultDepth = 0;
  QString reason, code;
  QString* collecting = nullptr;
  int collectDepth = 0;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement: {
        ++depth;
        const auto name = xml.name();
        if (depth == 1) {
          ns = xml.namespaceUri().toString();
          if (name != QLatin1String("Envelope") || (ns != soap11 && ns != soap12))
            xml.raiseError(QStringLiteral("not SOAP"));
        } else if (depth == 2 && name == QLatin1String("Body") && xml.namespaceUri() == ns) {
          body = true;
        } else if (depth == 3 && body && !fault && name == QLatin1String("Fault") && xml.namespaceUri() == ns) {
          fault = true;
          faultDepth = depth;
        } else if (fault && !collecting) {
          // SOAP 1.2: Reason/Text and Code/Value; SOAP 1.1: faultstring and faultcode.
          if ((name == QLatin1String("Text") && reason.isEmpty()) ||
              (name == QLatin1String("faultstring") && depth == faultDepth + 1)) {
            collecting = &reason;
            collectDepth = depth;
          } else if ((name == QLatin1String("Value") && code.isEmpty()) ||
                     (name == QLatin1String("faultcode") && depth == faultDepth + 1)) {
            collecting = &code;
            collectDepth = depth;
          }
        }
        break;
      }
      case QXmlStreamReader::EndElement:
        if (collecting && depth == collectDepth) collecting = nullptr;
        --depth;
        break;
      case QXmlStreamReader::Characters:
        if (collecting) *collecting += xml.text();
        break;
      case QXmlStreamReader::EntityReference: xml.raiseError(QStringLiteral("unresolved entity")); break;
      case QXmlStreamReader::DTD: RefuseDoctype(xml); break;
      default: break;
    }
  }
  if (xml.hasError() || !body) return SoapReplyKind::NotAReply;
  if (!fault) return SoapReplyKind::Reply;
  if (faultReason) *faultReason = reason.trimmed().isEmpty() ? code.trimmed() : reason.trimmed();
  return SoapReplyKind::Fault;
}
