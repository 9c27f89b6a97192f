// The SOAP exchange and the upload against servers that misbehave the way real ones and office
// networks do: each started here, on 127.0.0.1. zide-cli transmissoes (the refresh without windows)
// is run against the same peers and must reach the same verdicts.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include "base/sanitizer.h"
#include "net/soap.h"
#include "net/upload.h"
#include "registry/accesskey.h"
#include "support/cannedserver.h"
#include "support/testenv.h"
#include "transmission/refresh.h"
#include "transmission/transmissions.h"

extern char** environ;

namespace {
const QString kIe = QStringLiteral("0012345670089");
const QString kKey = QStringLiteral("AB12CD34");
const QByteArray kSoapTarget = "/ovu/server/index_zide.php?wsdl";
const QString kDown = QStringLiteral("O Servidor está indisponivel, tente novamente mais tarde.");

// A ver2 result the refresh accepts: the list, the date at 32-50, the year at 59-67.
QString listResult() {
  return QStringLiteral(
      "<listaTransferencias><d>       08/12/2026 10:20:30</d><an>2026/2027</an>"
      "<transferencia><referencia>11/2026</referencia><data>01/12/2026</data><protocolo>2026000001</protocolo>"
      "<status>1</status></transferencia></listaTransferencias>");
}

QList<SoapParam> ver2Params() {
  return {{QStringLiteral("strNome"), kIe},
          {QStringLiteral("strDiretorioDestino"), QStringLiteral("vbs")},
          {QStringLiteral("Chave"), kKey}};
}

struct CliRun {
  int exitCode = -1;
  QString out, err;
};

// zide-cli transmissoes while this process keeps serving its peers.
CliRun runCli() {
  QProcess cli;
  cli.start(builtProgram(QStringLiteral("zide-cli")), {QStringLiteral("transmissoes"), kIe, kKey});
  CliRun r;
  if (!cli.waitForStarted(10000)) return r;
  QDeadlineTimer limit(120000);
  while (cli.state() != QProcess::NotRunning && !limit.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    cli.waitForFinished(5);
  }
  r.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
  r.out = QString::fromUtf8(cli.readAllStandardOutput());
  r.err = QString::fromUtf8(cli.readAllStandardError()).trimmed();
  return r;
}

// What the window and the command line show for a refresh: the message, or "" for a list.
QString verdict(const Refresh::Result& s) {
  if (s.status == Refresh::Status::Ok) return QString();
  return s.notices.isEmpty() ? QStringLiteral("Acesso não autorizado") : s.notices.first().text;
}

// The CLI's verdict must be the refresh's: the same message, the exit code of its kind.
void checkCliAgrees(const QString& expected) {
  const CliRun r = runCli();
  if (expected.isEmpty()) {
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("Ano de trabalho: 2026/2027")), qPrintable(r.out));
  } else {
    QCOMPARE(r.err, expected);
    QCOMPARE(r.exitCode, expected == kDown ? 4 : 3);
  }
}

struct ChildRun {
  int exitCode = -1;
  long maxRssKb = 0;
};

// A child process whose peak memory is measured, while this process keeps serving its peers.
ChildRun runMeasured(const QStringList& argv) {
  std::vector<QByteArray> storage;
  std::vector<char*> args;
  for (const QString& a : argv) storage.push_back(a.toLocal8Bit());
  for (QByteArray& a : storage) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ChildRun r;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return r;
  int status = 0;
  rusage usage{};
  QDeadlineTimer limit(120000);
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (limit.hasExpired()) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      return r;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.maxRssKb = usage.ru_maxrss;
  return r;
}

// Sends an endless answer (up to 512 MiB) to every request, as fast as the client reads.
void streamEndlessly(QTcpSocket* s, const QByteArray& head) {
  s->write(head);
  auto sent = std::make_shared<qint64>(0);
  auto feed = [s, sent] {
    static const QByteArray block(1024 * 1024, 'x');
    while (s->bytesToWrite() < 2 * block.size() && *sent < (qint64(512) << 20)) {
      s->write(block);
      *sent += block.size();
    }
  };
  QObject::connect(s, &QTcpSocket::bytesWritten, s, feed);
  feed();
}

// One upload the way a transmission window makes it; true when an answer came back.
bool upload(const QString& url, QByteArray* answer, QString* error) {
  QString e;
  const auto target = ResolveUploadTarget(SplitUrl(url), &e);
  if (!target) {
    if (error) *error = e;
    return false;
  }
  Uploader up;
  up.setIdleTimeoutMs(5000);
  QSignalSpy done(&up, &Uploader::answerComplete);
  QSignalSpy failed(&up, &Uploader::errorOccurred);
  const bool sent =
      up.send(*target, BuildUploadRequest("DECLARACAO", SplitUrl(url), QStringLiteral("objArquivo"),
                                          QStringLiteral("zide.db"), QStringLiteral("application/octet-stream")));
  if (sent && !QTest::qWaitFor([&] { return !done.isEmpty() || !failed.isEmpty(); }, 60000) && error)
    *error = QStringLiteral("no end");
  if (!failed.isEmpty() && error) *error = failed.first().at(1).toString();
  if (!done.isEmpty() && answer) *answer = done.first().at(0).toByteArray();
  return !done.isEmpty();
}

QString uploadUrl(quint16 port, const QString& scheme = QStringLiteral("http")) {
  return scheme + QStringLiteral("://127.0.0.1:%1 /client_zide/xt_upload.php?contador=1&chave=").arg(port) + kKey;
}

// diziz.ini with extra keys of [servidor].
void writeIni(const TestAppFolder& app, quint16 port, const QByteArray& extra) {
  app.write(QStringLiteral("diziz.ini"),
            "[servidor]\r\nhost=127.0.0.1\r\nport=" + QByteArray::number(port) + "\r\n" + extra);
}

// A TLS peer answering every request with one body, its certificate from the test's own CA.
class TlsPeer : public QObject {
 public:
  TlsPeer(const QString& certFile, const QString& keyFile, const QByteArray& answer) : answer_(answer) {
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificate(QSslCertificate::fromPath(certFile).value(0));
    QFile k(keyFile);
    k.open(QIODevice::ReadOnly);
    conf.setPrivateKey(QSslKey(k.readAll(), QSsl::Ec));
    server_.setSslConfiguration(conf);
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
      while (auto* s = qobject_cast<QSslSocket*>(server_.nextPendingConnection())) {
        auto buffer = std::make_shared<QByteArray>();
        connect(s, &QSslSocket::readyRead, s, [this, s, buffer] {
          buffer->append(s->readAll());
          const qsizetype end = buffer->indexOf("\r\n\r\n");
          if (end < 0) return;
          qsizetype length = 0;
          for (const QByteArray& line : buffer->left(end).split('\n'))
            if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
          if (buffer->size() < end + 4 + length) return;
          ++requests;
          s->write(raw.isEmpty() ? CannedServer::response("200 OK", answer_) : raw);
          s->disconnectFromHost();
        });
        connect(s, &QSslSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  quint16 port() const { return server_.serverPort(); }
  int requests = 0;
  QByteArray raw;  // when set, the whole answer instead

 private:
  QSslServer server_;
  QByteArray answer_;
};
// An office proxy for https: CONNECT host:port, then bytes passed both ways untouched.
class TunnelProxy : public QObject {
 public:
  TunnelProxy() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* client = server_.nextPendingConnection()) {
        auto head = std::make_shared<QByteArray>();
        auto* target = new QTcpSocket(client);
        connect(client, &QTcpSocket::readyRead, client, [this, client, target, head] {
          if (target->state() != QAbstractSocket::UnconnectedState) {
            target->write(client->readAll());
            return;
          }
          head->append(client->readAll());
          const qsizetype end = head->indexOf("\r\n\r\n");
          if (end < 0) return;
          heads << head->left(end);
          const QList<QByteArray> where = head->split(' ').value(1).split(':');
          connect(target, &QTcpSocket::connected, client,
                  [client] { client->write("HTTP/1.1 200 Connection established\r\n\r\n"); });
          connect(target, &QTcpSocket::readyRead, client, [client, target] { client->write(target->readAll()); });
          connect(target, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
          target->connectToHost(QString::fromLatin1(where.value(0)), quint16(where.value(1).toUInt()));
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
      }
    });
  }
  quint16 port() const { return server_.serverPort(); }
  QList<QByteArray> heads;

 private:
  QTcpServer server_;
};
}  // namespace

class TstTransport : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void closedAfterTheRequestIsSentOnce();
  void errorStatusBodiesReachTheMarkers_data();
  void errorStatusBodiesReachTheMarkers();
  void redirectChainFollowed();
  void redirectLoopFails();
  void redirectsElsewhereRefused_data();
  void redirectsElsewhereRefused();
  void proxyFromEnvironment_data();
  void proxyFromEnvironment();
  void proxyFromSettings();
  void tricklingServerCutAtDeadline();
  void oversizedAnswersRefusedInBoundedMemory();
  void tlsTrustedAndUntrusted();

 private:
  std::unique_ptr<TestAppFolder> app_;
};

void TstTransport::init() {
  app_ = std::make_unique<TestAppFolder>();
  app_->write(QStringLiteral("info.dip"), "1.15.01");
  for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY",
                        "ZIDE_SOAP_PRAZO_MS", "ZIDE_CA_FILE"})
    qunsetenv(v);
}

void TstTransport::cleanup() { app_.reset(); }

// A server that reads the request and closes without a word: the exchange fails, and the server
// has heard the request exactly once (no silent second attempt), for SOAP and for the upload.
void TstTransport::closedAfterTheRequestIsSentOnce() {
  CannedServer server;
  server.handler = [](QTcpSocket* s, const CannedServer::Request&) { s->disconnectFromHost(); };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QString response = QStringLiteral("stale");
  QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.contador"), ver2Params(), &response));
  QVERIFY(response.isEmpty());
  QCOMPARE(server.requests.size(), 1);
  QCOMPARE(server.connections, 1);

  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), kDown);
  QCOMPARE(server.requests.size(), 2);
  checkCliAgrees(kDown);
  QCOMPARE(server.requests.size(), 3);
  QCOMPARE(server.connections, 3);

  QString error;
  QVERIFY(!upload(uploadUrl(server.port()), nullptr, &error));
  QCOMPARE(error, QStringLiteral("Connection is reset by remote side"));
  QCOMPARE(server.requests.size(), 4);
  QCOMPARE(server.connections, 4);
}

void TstTransport::errorStatusBodiesReachTheMarkers_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("status");
  QTest::addColumn<QString>("result");
  QTest::addColumn<QString>("message");
  for (const char* st : {"400 Bad Request", "407 Proxy Authentication Required", "418 I'm a teapot", "500 Internal Server Error"}) {
    const QByteArray status(st);
    QTest::addRow("%s CHAVE_INVALIDA", st) << status << "CHAVE_INVALIDA"    << "Chave inválida";
    QTest::addRow("%s CHAVE_I", st)        << status << "CHAVE_INEXISTENTE" << "Acesso não autorizado";
    QTest::addRow("%s lista", st)          << status << listResult()        << "";
  }
  // clang-format on
}

// Whatever the status, the body goes to the readers: a marker in an error answer is the marker.
void TstTransport::errorStatusBodiesReachTheMarkers() {
  QFETCH(QByteArray, status);
  QFETCH(QString, result);
  QFETCH(QString, message);
  CannedServer server;
  server.handler = [&](QTcpSocket* s, const CannedServer::Request& r) {
    const QString op = r.head.contains("Transferencia.ecnpj") ? QStringLiteral("Transferencia.ecnpj")
                                                              : QStringLiteral("Transferencia.ver2");
    const QString answer = op.endsWith(QLatin1String("ecnpj")) ? QStringLiteral("NAO_AUTORIZADO") : result;
    s->write(CannedServer::response(status, CannedServer::envelope(op, answer)));
    s->disconnectFromHost();
  };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), message);
  checkCliAgrees(message);
  // The key request's refusal marker arrives the same way.
  QString reply;
  QVERIFY(PedirChave(kIe, QStringLiteral("11.222.333/0001-81"), &reply));
  QVERIFY(InterpretarRespostaChave(reply).naoAutorizado);
  QCOMPARE(server.requests.size(), 3);
}

void TstTransport::redirectChainFollowed() {
  CannedServer server;
  const QByteArray base = "http://127.0.0.1:" + QByteArray::number(server.port());
  server.handler = [&](QTcpSocket* s, const CannedServer::Request& r) {
    const QByteArray target = r.head.split(' ').value(1);
    if (target == kSoapTarget)
      s->write(CannedServer::response("301 Moved Permanently", "movido", "Location: " + base + "/dois\r\n"));
    else if (target == "/dois") s->write(CannedServer::response("302 Found", "", "Location: /tres\r\n"));
    else if (target == "/tres")
      s->write(CannedServer::response("307 Temporary Redirect", "", "Location: " + base + "/final\r\n"));
    else s->write(CannedServer::response("200 OK", CannedServer::envelope("Transferencia.ver2", listResult())));
    s->disconnectFromHost();
  };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QString response, result;
  QVERIFY2(SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response), qPrintable(LastSoapError()));
  QVERIFY(GetResult(response, QStringLiteral("return"), &result));
  QCOMPARE(result, listResult());
  QCOMPARE(server.requests.size(), 4);
  // Every hop carries the same SOAP request: the service answers POST only.
  for (const auto& r : server.requests) {
    QVERIFY2(r.head.startsWith("POST "), r.head.constData());
    QVERIFY(r.head.contains("SOAPAction: Transferencia.ver2"));
    QCOMPARE(r.body, server.requests.first().body);
  }
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), QString());
  checkCliAgrees(QString());
}

void TstTransport::redirectLoopFails() {
  CannedServer server;
  server.handler = [&](QTcpSocket* s, const CannedServer::Request& r) {
    const bool atService = r.head.split(' ').value(1) == kSoapTarget;
    s->write(CannedServer::response("302 Found", "",
                                    atService ? "Location: /outro\r\n" : "Location: " + kSoapTarget + "\r\n"));
    s->disconnectFromHost();
  };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QString response;
  QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response));
  QCOMPARE(LastSoapError(), QStringLiteral("Redirecionamentos demais"));
  // The first request and five redirects, then the exchange gives up.
  QCOMPARE(server.requests.size(), 6);
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), kDown);
  checkCliAgrees(kDown);
}

void TstTransport::redirectsElsewhereRefused_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("status");
  QTest::addColumn<QByteArray>("location");  // %O: another server's port, %S: this server's
  QTest::newRow("307 to another port")  << QByteArray("307 Temporary Redirect") << QByteArray("http://127.0.0.1:%O/ovu/server/index_zide.php?wsdl");
  QTest::newRow("302 to another port")  << QByteArray("302 Found")              << QByteArray("http://127.0.0.1:%O/x");
  QTest::newRow("301 to another name")  << QByteArray("301 Moved Permanently")  << QByteArray("http://localhost:%S/ovu/server/index_zide.php?wsdl");
  QTest::newRow("308 to https")         << QByteArray("308 Permanent Redirect") << QByteArray("https://127.0.0.1:%S/ovu/server/index_zide.php?wsdl");
  // clang-format on
}

// The request carries the key: it goes again only to the service's own scheme, host and port.
void TstTransport::redirectsElsewhereRefused() {
  QFETCH(QByteArray, status);
  QFETCH(QByteArray, location);
  CannedServer server, other;
  other.answer(CannedServer::envelope("Transferencia.ver2", listResult()));
  location.replace("%O", QByteArray::number(other.port())).replace("%S", QByteArray::number(server.port()));
  server.handler = [&](QTcpSocket* s, const CannedServer::Request&) {
    s->write(CannedServer::response(status, "", "Location: " + location + "\r\n"));
    s->disconnectFromHost();
  };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QString response;
  QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response));
  QVERIFY2(LastSoapError().startsWith(QStringLiteral("Redirecionamento recusado")), qPrintable(LastSoapError()));
  QVERIFY(LastSoapError().contains(QString::fromLatin1(location)));
  QCOMPARE(server.requests.size(), 1);
  QCOMPARE(other.requests.size(), 0);
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), kDown);
}

void TstTransport::proxyFromEnvironment_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("noProxy");
  QTest::addColumn<bool>("viaProxy");
  QTest::newRow("http_proxy")                  << ""                      << true;
  QTest::newRow("no_proxy of another host")    << "example.org,.local"    << true;
  QTest::newRow("no_proxy names the host")     << "localhost, 127.0.0.1"  << false;
  QTest::newRow("no_proxy *")                  << "*"                     << false;
  // clang-format on
}

// The office proxy of the environment carries both the SOAP request and the upload, with absolute
// addresses in their request lines, unless no_proxy covers the server.
void TstTransport::proxyFromEnvironment() {
  QFETCH(QString, noProxy);
  QFETCH(bool, viaProxy);
  CannedServer server, proxy;
  server.answer(CannedServer::envelope("Transferencia.ver2", listResult()));
  proxy.answer(CannedServer::envelope("Transferencia.ver2", listResult()));
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
  if (!noProxy.isEmpty()) qputenv("no_proxy", noProxy.toUtf8());

  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), QString());
  checkCliAgrees(QString());
  QVERIFY(upload(uploadUrl(server.port()), nullptr, nullptr));

  CannedServer& heard = viaProxy ? proxy : server;
  QCOMPARE(heard.requests.size(), 3);
  QCOMPARE((viaProxy ? server : proxy).requests.size(), 0);
  const QByteArray origin = viaProxy ? "http://127.0.0.1:" + QByteArray::number(server.port()) : QByteArray();
  QVERIFY2(heard.requests[0].head.startsWith("POST " + origin + kSoapTarget + " HTTP/1.1\r\n"),
           heard.requests[0].head.constData());
  QVERIFY2(heard.requests[2].head.startsWith("POST " + origin + "/client_zide/xt_upload.php?contador=1&chave=" +
                                             kKey.toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n"),
           heard.requests[2].head.constData());
  QVERIFY(heard.requests[2].body.contains("DECLARACAO"));
}

// The proxy key of the settings wins over the environment; "nenhum" goes straight to the server.
void TstTransport::proxyFromSettings() {
  CannedServer server, proxy, other;
  for (CannedServer* s : {&server, &proxy, &other})
    s->answer(CannedServer::envelope("Transferencia.ver2", listResult()));
  qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(other.port()));
  writeIni(*app_, server.port(), "proxy=user:s%40nha@127.0.0.1:" + QByteArray::number(proxy.port()) + "\r\n");
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), QString());
  QVERIFY(upload(uploadUrl(server.port()), nullptr, nullptr));
  QCOMPARE(proxy.requests.size(), 2);
  const QByteArray credentials = "Proxy-Authorization: Basic " + QByteArray("user:s@nha").toBase64() + "\r\n";
  QVERIFY2(proxy.requests[0].head.contains(credentials), proxy.requests[0].head.constData());
  QVERIFY2(proxy.requests[1].head.contains(credentials), proxy.requests[1].head.constData());
  QVERIFY(proxy.requests[1].head.startsWith("POST http://127.0.0.1:"));

  writeIni(*app_, server.port(), "proxy=nenhum\r\n");
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), QString());
  QVERIFY(upload(uploadUrl(server.port()), nullptr, nullptr));
  QCOMPARE(server.requests.size(), 2);
  QCOMPARE(other.requests.size(), 0);

  // A proxy setting that names no proxy is refused, not ignored: nothing is sent.
  writeIni(*app_, server.port(), "proxy=socks5://127.0.0.1:1080\r\n");
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), kDown);
  QString error;
  QVERIFY(!upload(uploadUrl(server.port()), nullptr, &error));
  QVERIFY2(error.startsWith(QStringLiteral("Proxy inválido")), qPrintable(error));
  QCOMPARE(server.requests.size() + proxy.requests.size() + other.requests.size(), 4);
}

// A server that keeps the connection alive with a byte now and then never holds the program past
// the overall deadline (shortened here through ZIDE_SOAP_PRAZO_MS).
void TstTransport::tricklingServerCutAtDeadline() {
  QCOMPARE(SoapDeadlineMs(), qint64(5 * 60 * 1000));
  CannedServer server;
  server.handler = [](QTcpSocket* s, const CannedServer::Request&) {
    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n<");
    auto* drip = new QTimer(s);
    QObject::connect(drip, &QTimer::timeout, s, [s] { s->write("x"); });
    drip->start(200);
  };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  qputenv("ZIDE_SOAP_PRAZO_MS", "1500");
  QCOMPARE(SoapDeadlineMs(), qint64(1500));
  QString response;
  QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response));
  QCOMPARE(LastSoapError(), QStringLiteral("Tempo esgotado sem resposta do servidor"));
  QVERIFY(response.isEmpty());
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), kDown);
  checkCliAgrees(kDown);
}

// An endless answer (SOAP or upload) is cut at 32 MiB as a failed exchange; the child process that
// reads it never holds much more than that.
void TstTransport::oversizedAnswersRefusedInBoundedMemory() {
  CannedServer server;
  server.handler = [](QTcpSocket* s, const CannedServer::Request& r) {
    if (r.head.startsWith("POST /ovu/"))
      streamEndlessly(s, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n");
    else streamEndlessly(s, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
  };
  app_->writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  // The 32 MiB answer, its text and the program itself; the sanitizers' shadow memory and freed-block
  // quarantine make any absolute figure meaningless there, so that build checks the refusal alone.
#if ZIDE_ASAN
  constexpr long kBoundKb = 4L * 1024 * 1024 * 1024;
#else
  constexpr long kBoundKb = 160 * 1024;
#endif

  const ChildRun cli =
      runMeasured({builtProgram(QStringLiteral("zide-cli")), QStringLiteral("transmissoes"), kIe, kKey});
  QCOMPARE(cli.exitCode, 4);
  QVERIFY2(cli.maxRssKb < kBoundKb, qPrintable(QString::number(cli.maxRssKb)));

  const ChildRun up = runMeasured(
      {QCoreApplication::applicationFilePath(), QStringLiteral("--filho-upload"), uploadUrl(server.port())});
  QCOMPARE(up.exitCode, 5);
  QVERIFY2(up.maxRssKb < kBoundKb, qPrintable(QString::number(up.maxRssKb)));
  QCOMPARE(server.requests.size(), 2);

  // In this process too: the failure names the limit.
  QString response;
  QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response));
  QCOMPARE(LastSoapError(), QStringLiteral("Resposta do servidor maior que 32 MiB"));
}

// protocolo=https: the server's certificate is checked against the system's authorities, or the
// file ZIDE_CA_FILE names. Trusted, SOAP and upload go through; untrusted, nothing is sent.
void TstTransport::tlsTrustedAndUntrusted() {
  if (!QSslSocket::supportsSsl()) QSKIP("no TLS backend");
  QTemporaryDir dir;
  auto sh = [&](const QString& cmd) {
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), cmd});
    return p.waitForFinished(60000) && p.exitCode() == 0;
  };
  const QString ec = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes");
  QVERIFY(sh("openssl req -x509 " + ec + " -keyout ca.key -out ca.pem -days 2 -subj /CN=CA-de-teste 2>/dev/null"));
  QVERIFY(sh("openssl req -x509 " + ec + " -keyout outra.key -out outra.pem -days 2 -subj /CN=Outra-CA 2>/dev/null"));
  QVERIFY(sh("openssl req " + ec + " -keyout srv.key -out srv.csr -subj /CN=127.0.0.1 2>/dev/null"));
  QVERIFY(
      sh("printf 'subjectAltName=IP:127.0.0.1\\nextendedKeyUsage=serverAuth\\n' > ext.cnf && "
         "openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile ext.cnf "
         "-out srv.pem 2>/dev/null"));
  TlsPeer peer(dir.filePath("srv.pem"), dir.filePath("srv.key"),
               CannedServer::envelope("Transferencia.ver2", listResult()));
  writeIni(*app_, peer.port(), "protocolo=https\r\n");

  qputenv("ZIDE_CA_FILE", dir.filePath("ca.pem").toLocal8Bit());
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), QString());
  checkCliAgrees(QString());
  QByteArray answer;
  QString error;
  QVERIFY2(upload(uploadUrl(peer.port(), QStringLiteral("https")), &answer, &error), qPrintable(error));
  QVERIFY(answer.contains("listaTransferencias"));
  QCOMPARE(peer.requests, 3);

  // Through the office proxy, https asks for a tunnel and still checks the server's certificate.
  TunnelProxy tunnel;
  writeIni(*app_, peer.port(), "protocolo=https\r\nproxy=127.0.0.1:" + QByteArray::number(tunnel.port()) + "\r\n");
  QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), QString());
  QVERIFY2(upload(uploadUrl(peer.port(), QStringLiteral("https")), &answer, &error), qPrintable(error));
  QCOMPARE(peer.requests, 5);
  QCOMPARE(tunnel.heads.size(), 2);
  for (const QByteArray& head : tunnel.heads)
    QVERIFY2(head.startsWith("CONNECT 127.0.0.1:" + QByteArray::number(peer.port()) + " HTTP/1."), head.constData());
  writeIni(*app_, peer.port(), "protocolo=https\r\n");

  for (const QByteArray& ca : {dir.filePath("outra.pem").toLocal8Bit(), QByteArray()}) {
    if (ca.isEmpty()) qunsetenv("ZIDE_CA_FILE");  // the system's authorities do not know the test CA
    else qputenv("ZIDE_CA_FILE", ca);
    QString response;
    QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response));
    QVERIFY2(LastSoapError().startsWith(QStringLiteral("Certificado do servidor não confiável")),
             qPrintable(LastSoapError()));
    QCOMPARE(verdict(Refresh::Fetch(kIe, kKey)), kDown);
    checkCliAgrees(kDown);
    QVERIFY(!upload(uploadUrl(peer.port(), QStringLiteral("https")), nullptr, &error));
    QVERIFY2(error.startsWith(QStringLiteral("Certificado do servidor não confiável")), qPrintable(error));
    QCOMPARE(peer.requests, 5);  // nothing more reached the server
  }

  // A trusted https server that redirects to http never gets the key sent in clear.
  qputenv("ZIDE_CA_FILE", dir.filePath("ca.pem").toLocal8Bit());
  CannedServer plain;
  plain.answer(CannedServer::envelope("Transferencia.ver2", listResult()));
  peer.raw = CannedServer::response(
      "302 Found", "",
      "Location: http://127.0.0.1:" + QByteArray::number(plain.port()) + "/ovu/server/index_zide.php?wsdl\r\n");
  QString response;
  QVERIFY(!SendSoapRequest(QStringLiteral("Transferencia.ver2"), ver2Params(), &response));
  QVERIFY2(LastSoapError().startsWith(QStringLiteral("Redirecionamento recusado")), qPrintable(LastSoapError()));
  QCOMPARE(peer.requests, 6);
  QCOMPARE(plain.requests.size(), 0);
}

// Child mode: one upload, exit 0 with an answer, 5 after a failure.
static int childUpload(const QString& url) {
  QString error;
  const bool ok = upload(url, nullptr, &error);
  if (!ok) fprintf(stderr, "%s\n", qPrintable(error));
  return ok ? 0 : 5;
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc == 3 && qstrcmp(argv[1], "--filho-upload") == 0) return childUpload(QString::fromLocal8Bit(argv[2]));
  TstTransport t;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&t, argc, argv);
}

#include "tst_transport.moc"
