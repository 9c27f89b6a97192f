// URL split, request layout, percentages, and real uploads to the sandbox over loopback.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QTcpServer>
#include <QtTest>

#include "base/cp1252.h"
#include "gui/transmission/uploadui.h"
#include "net/upload.h"
#include "net/urlhelper.h"
#include "support/accessdb.h"
#include "support/cannedserver.h"
#include "support/recorder.h"
#include "support/sandbox.h"
#include "support/testenv.h"

Q_DECLARE_METATYPE(UrlParts)

namespace {
const QString kKey = QStringLiteral("AB12CD34");
const QString kIe = QStringLiteral("0012345670089");

QString zideUrl(quint16 port, const QString& gias, const QString& key = kKey) {
  return "http://127.0.0.1:" + QString::number(port) +
         " /client_zide/xt_upload.php?contador=11222333000181&chave=" + key + "&gias=" + gias;
}
QString simplesUrl(quint16 port) {
  return "http://127.0.0.1:" + QString::number(port) +
         " /client/xt_upload_simples.php?contador=11222333000181&chave=" + kKey + "&gias=";
}

// The declaration's Access database as the intake leaves it, with two reference periods.
QByteArray workingDatabase(const QString& path) {
  return writeAccessDeclaration(path, {{1, kIe}}, {{501, 1, QDate(2025, 2, 1), "N"}, {502, 1, QDate(2025, 3, 1), "S"}});
}

// Sends one request the way a window does and waits for the end, whatever it is.
struct UploadResult {
  bool started = false;
  bool answered = false;
  int status = -1;
  QByteArray answer;
  int errorNumber = 0;
  QString error;
  QList<int> percents;
  QStringList texts;
  int completes = 0;
};

UploadResult upload(const QString& url, QByteArray content, const QString& fileName, int idleMs = 10000) {
  UploadResult o;
  const UrlParts parts = SplitUrl(url);
  QString portError;
  const int port = ResolveUploadPort(parts, &portError);
  if (!port) {
    o.error = portError;
    return o;
  }
  Uploader up;
  up.setIdleTimeoutMs(idleMs);
  QObject::connect(&up, &Uploader::progressChanged, [&](int p, const QString& t) {
    o.percents << p;
    o.texts << t;
  });
  QObject::connect(&up, &Uploader::sendComplete, [&](const QString& t) {
    ++o.completes;
    o.texts << t;
  });
  QEventLoop loop;
  QObject::connect(&up, &Uploader::answerComplete, [&](const QByteArray& a, int status) {
    o.answered = true;
    o.answer = a;
    o.status = status;
    loop.quit();
  });
  QObject::connect(&up, &Uploader::errorOccurred, [&](int n, const QString& d) {
    o.errorNumber = n;
    o.error = d;
    loop.quit();
  });
  // The file is read while it goes out, as the windows send it.
  QTemporaryFile file;
  if (!file.open() || file.write(content) != content.size() || !file.flush()) {
    o.error = QStringLiteral("temporary file");
    return o;
  }
  QString error;
  auto request = OpenUploadRequest(file.fileName(), parts, "objArquivo", fileName, "application/octet-stream", &error);
  if (!request) {
    o.error = error;
    return o;
  }
  UploadTarget target;
  target.host = parts.Host;
  target.port = quint16(port);
  o.started = up.send(target, std::move(*request));
  if (o.started) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(30000);
    loop.exec();
  }
  return o;
}

QByteArray pdf(const QByteArray& text) {
  return "%PDF-1.4\n1 0 obj << /Producer (PGDAS-D) >> endobj\nBT (" + text + ") Tj ET\n%%EOF\n";
}
}  // namespace

class TstUpload : public QObject {
  Q_OBJECT
 private slots:
  void splitUrl_data();
  void splitUrl();
  void resolvePort();
  void requestLayoutEmptyFile();
  void requestLayoutBinaryFile();
  void fileNameHeaderStaysOneLine_data();
  void fileNameHeaderStaysOneLine();
  void boundary();
  void percentages();
  void unreadableFile();
  void zideUploadRecordsReferences();
  void simplesUploadAndRefusals();
  void faultsEndInReportableFailures_data();
  void faultsEndInReportableFailures();
  void waitForConnectionEndsOnAbortAndTimeout();
  void oneUploaderServesSeveralSends();
  void fileThatShrinksIsNotSentCut();
  void answersEndedEarlyOrTrickled_data();
  void answersEndedEarlyOrTrickled();
};

void TstUpload::splitUrl_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("url");
  QTest::addColumn<QStringList>("expected");  // scheme, host, port, path, query, out of range
  QTest::newRow("all parts") << "http://h:81/a/b?x=1&y=2" << QStringList{"http", "h", "81", "/a/b", "x=1&y=2", "0"};
  QTest::newRow("no port") << "http://h/a" << QStringList{"http", "h", "0", "/a", "", "0"};
  QTest::newRow("no slash") << "http://h:81" << QStringList{"http", "h:81", "0", "/", "", "0"};
  QTest::newRow("no slash, query") << "http://h:81?q=1" << QStringList{"http", "h:81?q=1", "0", "/", "", "0"};
  QTest::newRow("empty host") << "http://:80/a" << QStringList{"http", "", "80", "/a", "", "0"};
  QTest::newRow("blank after port") << "http://h:81 /a?b" << QStringList{"http", "h", "81", "/a", "b", "0"};
  QTest::newRow("port not a number") << "http://h:8x/a" << QStringList{"http", "h", "0", "/a", "", "0"};
  QTest::newRow("empty port") << "http://h: /a" << QStringList{"http", "h", "0", "/a", "", "0"};
  QTest::newRow("port above 32767") << "http://h:40000/a" << QStringList{"http", "h", "40000", "/a", "", "0"};
  QTest::newRow("port above 65535") << "http://h:65536/a" << QStringList{"http", "h", "0", "/a", "", "1"};
  QTest::newRow("no scheme") << "h:8080/p?q?r" << QStringList{"", "h", "8080", "/p", "q?r", "0"};
  QTest::newRow("colon after slash") << "http://h/a:b" << QStringList{"http", "h", "0", "/a:b", "", "0"};
  QTest::newRow("empty query") << "http://h/a?" << QStringList{"http", "h", "0", "/a", "", "0"};
  // clang-format on
}

void TstUpload::splitUrl() {
  QFETCH(QString, url);
  QFETCH(QStringList, expected);
  const UrlParts p = SplitUrl(url);
  QCOMPARE((QStringList{p.Scheme, p.Host, QString::number(p.Port), p.Path, p.Query, QString::number(p.PortOutOfRange)}),
           expected);
}

void TstUpload::resolvePort() {
  TestAppFolder app;
  QString error;
  app.writeSettings("h", "8080");
  QCOMPARE(ResolveUploadPort(SplitUrl("http://h:81/a"), &error), 81);
  QCOMPARE(ResolveUploadPort(SplitUrl("http://h/a"), &error), 8080);
  QVERIFY(error.isEmpty());
  QCOMPARE(ResolveUploadPort(SplitUrl("http://h:40000/a"), &error), 40000);
  QCOMPARE(ResolveUploadPort(SplitUrl("http://h:65536/a"), &error), 0);
  QCOMPARE(error, QStringLiteral("Invalid Port"));
  for (const char* bad : {"oitenta", "65536", "", "-1", "00"}) {
    app.writeSettings("h", bad);
    error.clear();
    QCOMPARE(ResolveUploadPort(SplitUrl(QStringLiteral("http://h:%1 /a").arg(bad)), &error), 0);
    QCOMPARE(error, QStringLiteral("Invalid Port"));
  }
}

void TstUpload::requestLayoutEmptyFile() {
  const UrlParts url = SplitUrl("http://h/a");
  const QByteArray req = BuildUploadRequest({}, url, "objArquivo", "x.pdf", "application/octet-stream",
                                            "0123456789abcdefghijABCDEFGHIJkl");
  const QByteArray body =
      "--0123456789abcdefghijABCDEFGHIJkl\r\n"
      "Content-Disposition: form-data; name=\"objArquivo\"; filename=\"x.pdf\"\r\n"
      "Content-Type: application/octet-stream\r\n"
      "\r\n"
      "\r\n--0123456789abcdefghijABCDEFGHIJkl--";
  QCOMPARE(req,
           "POST /a? HTTP/1.0\r\n"
           "Host: h\r\n"
           "Content-Type: multipart/form-data, boundary=0123456789abcdefghijABCDEFGHIJkl\r\n"
           "Content-Length: " +
               QByteArray::number(body.size()) +
               "\r\n"
               "\r\n" +
               body);
}

void TstUpload::requestLayoutBinaryFile() {
  QByteArray content("a\r\nb\0\r\n", 7);
  for (int i = 128; i < 256; ++i) content.append(char(i));
  const UrlParts url = SplitUrl(QStringLiteral("http://srv.exemplo:81 /cliente/ação.php?nome=São João&v=1"));
  const QString boundary = RandomBoundary(32);
  const QByteArray req = BuildUploadRequest(content, url, QStringLiteral("campoÇ"), QStringLiteral("Declaração.GDB"),
                                            "application/octet-stream", boundary);
  const QByteArray b = boundary.toLatin1();
  const QByteArray head =
      toCp1252(QStringLiteral("POST /cliente/ação.php?nome=São João&v=1 HTTP/1.0\r\nHost: srv.exemplo\r\n"));
  QVERIFY(req.startsWith(head));
  QVERIFY(head.contains("a\xe7\xe3o.php?nome=S\xe3o Jo\xe3o"));
  const qsizetype bodyStart = req.indexOf("\r\n\r\n") + 4;
  const QByteArray body = req.mid(bodyStart);
  QVERIFY(req.contains("\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"));
  QCOMPARE(body, "--" + b +
                     "\r\nContent-Disposition: form-data; name=\"campo\xc7\"; filename=\"Declara\xe7\xe3o.GDB\"\r\n"
                     "Content-Type: application/octet-stream\r\n\r\n" +
                     content + "\r\n--" + b + "--");
  // The in-place build gives the same bytes as building from a copy that stays with the caller.
  QByteArray moved = content;
  QCOMPARE(BuildUploadRequest(std::move(moved), url, QStringLiteral("campoÇ"), QStringLiteral("Declaração.GDB"),
                              "application/octet-stream", boundary),
           req);
  QCOMPARE(content.size(), 7 + 128);
  // Read from the file while it goes out, the request has the same bytes.
  TestAppFolder app;
  app.write("d.bin", content);
  QString error;
  const auto streamed =
      OpenUploadRequest(app.file("d.bin"), url, QStringLiteral("campoÇ"), QStringLiteral("Declaração.GDB"),
                        "application/octet-stream", &error, boundary);
  QVERIFY2(streamed, qPrintable(error));
  QCOMPARE(streamed->size(), req.size());
  QCOMPARE(streamed->head + streamed->file->readAll() + streamed->tail, req);
  QVERIFY(!OpenUploadRequest(app.file("nada.bin"), url, "f", "n", "t", &error));
  QVERIFY(error.contains("nada.bin"));
}

void TstUpload::fileNameHeaderStaysOneLine_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("name");
  QTest::addColumn<QByteArray>("header");
  QTest::newRow("plain")        << "ZIDE.GDB"                << QByteArray("ZIDE.GDB");
  QTest::newRow("quote")        << "a\"; name=\"x.GDB"        << QByteArray("a_; name=_x.GDB");
  QTest::newRow("CR LF")        << "a\r\nX-Injetado: 1.GDB" << QByteArray("a__X-Injetado: 1.GDB");
  QTest::newRow("lone LF, CR")  << "\nb\r.GDB"               << QByteArray("_b_.GDB");
  QTest::newRow("accents kept") << "Março's.GDB"             << QByteArray("Mar\xe7o's.GDB");
  // clang-format on
}

// A name possible on Linux never breaks the part's header; the content goes unchanged.
void TstUpload::fileNameHeaderStaysOneLine() {
  QFETCH(QString, name);
  QFETCH(QByteArray, header);
  const QByteArray content("\"\r\n\"", 4);
  const QByteArray req =
      BuildUploadRequest(content, SplitUrl("http://h/a"), "objArquivo", name, "application/octet-stream", "B");
  QVERIFY2(req.contains("; filename=\"" + header + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content +
                        "\r\n--B--"),
           req.constData());
}

void TstUpload::boundary() {
  QSet<QString> seen;
  for (int i = 0; i < 50; ++i) {
    const QString b = RandomBoundary(32);
    QCOMPARE(b.size(), 32);
    for (QChar c : b)
      QVERIFY2(
          c.isDigit() || (c.toLatin1() >= 'A' && c.toLatin1() <= 'Z') || (c.toLatin1() >= 'a' && c.toLatin1() <= 'z'),
          qPrintable(b));
    seen.insert(b);
  }
  QCOMPARE(seen.size(), 50);
  // Every one of the 62 characters turns up.
  QSet<QChar> chars;
  const QString many = RandomBoundary(5000);
  for (QChar c : many) chars.insert(c);
  QCOMPARE(chars.size(), 62);
}

void TstUpload::percentages() {
  QCOMPARE(SendPercent(8, 7), 12);     // 12.5 -> even 12
  QCOMPARE(SendPercent(8, 5), 38);     // 37.5 -> even 38
  QCOMPARE(SendPercent(200, 1), 100);  // 99.5 -> even 100
  QCOMPARE(SendPercent(400, 2), 100);  // 99.5 again
  QCOMPARE(SendPercent(3, 1), 67);
  QCOMPARE(SendPercent(100, 100), 0);
  QCOMPARE(SendPercent(0, 0), -1);
  QCOMPARE(SendSpeedText(37), QStringLiteral("37% completo."));
}

void TstUpload::unreadableFile() {
  Recorder rec;
  TestAppFolder app;
  QVERIFY(ReadFileBytes(app.file("nada.pdf")).isEmpty());
  QCOMPARE(rec.messages.size(), 1);
  QCOMPARE(rec.messages[0].title, QStringLiteral("ERROR"));
  QCOMPARE(rec.messages[0].icon, QMessageBox::Critical);
  QVERIFY(rec.messages[0].text.contains("nada.pdf"));
  app.write("ok.bin", QByteArray("x\0y", 3));
  QCOMPARE(ReadFileBytes(app.file("ok.bin")), QByteArray("x\0y", 3));
  QCOMPARE(rec.messages.size(), 1);
}

void TstUpload::zideUploadRecordsReferences() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QByteArray db = workingDatabase(app.file("zide.mdb"));
  // Large enough for several progress events.
  db.append(QByteArray(3 * 1024 * 1024, 'z'));
  const UploadResult o = upload(zideUrl(server.port(), "501,502"), db, QStringLiteral("ZIDE Março.GDB"));
  QVERIFY2(o.answered, qPrintable(o.error + "\n" + server.log()));
  QCOMPARE(o.status, 200);
  QCOMPARE(o.completes, 1);
  QVERIFY(o.percents.size() >= 2);
  QCOMPARE(o.percents.first(), 0);
  QCOMPARE(o.percents.last(), 100);
  QVERIFY(std::is_sorted(o.percents.begin(), o.percents.end()));
  QCOMPARE(o.texts.last(), QStringLiteral("Aguarde, carregando informações"));
  QCOMPARE(o.texts.value(o.texts.size() - 2), QStringLiteral("100% completo."));
  const auto rows = server.rows("SELECT * FROM transmissao ORDER BY id");
  QCOMPARE(rows.size(), 2);
  QCOMPARE(rows[0].value("referencia").toString(), QStringLiteral("02/2025"));
  QCOMPARE(rows[1].value("referencia").toString(), QStringLiteral("03/2025"));
  QCOMPARE(rows[0].value("status").toInt(), 1);
  QCOMPARE(rows[0].value("arquivo").toString(), QStringLiteral("ZIDE Março.GDB"));
  QCOMPARE(rows[0].value("tamanho").toLongLong(), qint64(db.size()));
  QCOMPARE(rows[0].value("contador").toString(), QStringLiteral("11222333000181"));
  for (const auto& r : rows) QVERIFY(o.answer.contains("PROTOCOLO=" + r.value("protocolo").toByteArray()));
  const auto req = server.rows("SELECT caminho FROM requisicao");
  QCOMPARE(req.value(0).value("caminho").toString(),
           QStringLiteral("/client_zide/xt_upload.php?contador=11222333000181&chave=AB12CD34&gias=501,502"));

  // A key the server does not know records nothing.
  const UploadResult wrong = upload(zideUrl(server.port(), "501", "XXXX0000"), "x", "ZIDE.GDB");
  QVERIFY(wrong.answered);
  QVERIFY(wrong.answer.contains("CHAVE_INVALIDA"));
  QCOMPARE(server.rows("SELECT * FROM transmissao").size(), 2);
}

void TstUpload::simplesUploadAndRefusals() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));

  UploadResult o = upload(simplesUrl(server.port()), pdf("Declaracao PA 04/2025"), "DeclaracaoDASN-2025.pdf");
  QVERIFY2(o.answered, qPrintable(o.error));
  QVERIFY(!o.answer.contains("ARQUIVO INVALIDO"));
  auto rows = server.rows("SELECT * FROM transmissao");
  QCOMPARE(rows.size(), 1);
  QCOMPARE(rows[0].value("referencia").toString(), QStringLiteral("04/2025"));
  QCOMPARE(rows[0].value("tipo").toString(), QStringLiteral("SIMPLES"));

  o = upload(simplesUrl(server.port()), pdf("Extrato do Simples Nacional - Recibo"), "a.pdf");
  QVERIFY(o.answer.contains("ARQUIVO INVALIDO - EXTRATO"));
  QVERIFY(o.answer.contains("ARQUIVO INVALIDO - RECIBO"));
  QVERIFY(!o.answer.contains("ARQUIVO INVALIDO - MODIFICADO"));
  o = upload(simplesUrl(server.port()), "isto nao e um pdf", "b.pdf");
  QVERIFY(o.answer.contains("ARQUIVO INVALIDO - MODIFICADO"));
  o = upload(simplesUrl(server.port()), pdf("x") + "2 0 obj << >> endobj\n%%EOF\n", "c.pdf");
  QVERIFY(o.answer.contains("ARQUIVO INVALIDO - MODIFICADO"));
  QCOMPARE(server.rows("SELECT * FROM transmissao").size(), 1);
}

void TstUpload::faultsEndInReportableFailures_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("mode");
  QTest::addColumn<int>("size");
  QTest::addColumn<int>("expectedError");  // 0: an answer arrives, judged by its status
  QTest::addColumn<int>("expectedStatus");
  QTest::newRow("recusar") << "recusar" << 100 << 10061 << -1;
  QTest::newRow("fechar-no-envio, small") << "fechar-no-envio" << 100 << 10054 << -1;
  QTest::newRow("fechar-no-envio, large") << "fechar-no-envio" << 8 * 1024 * 1024 << 10054 << -1;
  QTest::newRow("silencio") << "silencio" << 100 << 10060 << -1;
  QTest::newRow("lixo") << "lixo" << 100 << 0 << 0;
  QTest::newRow("erro500") << "erro500" << 100 << 0 << 500;
  QTest::newRow("recusar only soap") << "recusar:soap" << 100 << 0 << 200;
  QTest::newRow("recusar only upload") << "recusar:upload" << 100 << 10054 << -1;
  // clang-format on
}

void TstUpload::faultsEndInReportableFailures() {
  QFETCH(QString, mode);
  QFETCH(int, size);
  QFETCH(int, expectedError);
  QFETCH(int, expectedStatus);
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181", "--falha", mode});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QElapsedTimer clock;
  clock.start();
  const UploadResult o = upload(zideUrl(server.port(), "1"), QByteArray(size, 'x'), "ZIDE.GDB", 1500);
  QVERIFY(clock.elapsed() < 20000);
  if (expectedError) {
    QVERIFY2(!o.answered, o.answer.constData());
    // A large send may be cut either as a reset or while writing; both are connection failures.
    if (mode.startsWith("fechar") && size > 100)
      QVERIFY2(o.errorNumber == 10054 || o.errorNumber == 10053, qPrintable(o.error));
    else
      QVERIFY2(o.errorNumber == expectedError,
               qPrintable(QString::number(o.errorNumber) + " " + o.error + "\n" + server.log()));
    QVERIFY(!o.error.isEmpty());
  } else {
    QVERIFY2(o.answered, qPrintable(o.error));
    QCOMPARE(o.status, expectedStatus);
  }
}

void TstUpload::waitForConnectionEndsOnAbortAndTimeout() {
  // A listener whose queue is full and that never accepts: new connections hang in the handshake.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
  QVERIFY(::listen(fd, 0) == 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const quint16 port = ntohs(addr.sin_port);
  QList<QTcpSocket*> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers << new QTcpSocket(this);
    fillers.last()->connectToHost(QHostAddress::LocalHost, port);
  }
  QTest::qWait(200);

  Uploader up;
  QSignalSpy errors(&up, &Uploader::errorOccurred);
  QElapsedTimer clock;
  clock.start();
  QTimer::singleShot(300, &up, [&] { up.abort(); });  // the window closes during the wait
  QVERIFY(!up.send("127.0.0.1", port, "POST / HTTP/1.0\r\n\r\n"));
  QVERIFY(clock.elapsed() < 5000);
  QCOMPARE(errors.size(), 0);
  QVERIFY(!up.conectado());

  up.setConnectTimeoutMs(400);
  clock.restart();
  QVERIFY(!up.send("127.0.0.1", port, "POST / HTTP/1.0\r\n\r\n"));
  QVERIFY(clock.elapsed() < 5000);
  QCOMPARE(errors.size(), 1);
  QCOMPARE(errors[0][0].toInt(), 10060);
  QCOMPARE(up.state(), Uploader::State::Idle);
  qDeleteAll(fillers);
  ::close(fd);
}

void TstUpload::oneUploaderServesSeveralSends() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  quint16 closedPort;
  {
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    closedPort = probe.serverPort();
  }
  Uploader up;
  QSignalSpy errors(&up, &Uploader::errorOccurred);
  QSignalSpy answers(&up, &Uploader::answerComplete);
  QList<int> percents;
  connect(&up, &Uploader::progressChanged, this, [&](int p) { percents << p; });
  // A press of the button while a send is under way does nothing.
  bool nested = true;
  connect(&up, &Uploader::connected, this, [&] { nested = up.send("127.0.0.1", server.port(), "x"); });

  QVERIFY(!up.send("127.0.0.1", closedPort, "x"));
  QCOMPARE(errors.size(), 1);
  QCOMPARE(errors[0][0].toInt(), 10061);
  QCOMPARE(up.errorString(), QStringLiteral("Connection is forcefully rejected"));

  const UrlParts url = SplitUrl(simplesUrl(server.port()));
  for (int size : {12 * 1024 * 1024, 6 * 1024 * 1024}) {
    percents.clear();
    QVERIFY(up.send(
        url.Host, quint16(url.Port),
        BuildUploadRequest(pdf(QByteArray(size, ' ')), url, "objArquivo", "d.pdf", "application/octet-stream")));
    QVERIFY(!nested);
    QVERIFY(answers.wait(10000));
    // Each send measures its own size: the smaller second one still runs from 0 to 100.
    QCOMPARE(percents.value(0, -1), 0);
    QCOMPARE(percents.last(), 100);
    QVERIFY(up.totalEnvio() > 0 && up.totalEnvio() < size + 1024);
    QCOMPARE(up.httpStatus(), 200);
    QVERIFY(up.responseText().contains("ARQUIVO RECEBIDO: d.pdf"));
    QVERIFY(up.request().endsWith("--"));
    QCOMPARE(up.state(), Uploader::State::Idle);
    QVERIFY(!up.conectado());
  }
  QCOMPARE(errors.size(), 1);
  QCOMPARE(server.rows("SELECT * FROM transmissao").size(), 2);
}

// Content-Length promises the size the file had when it was opened; a file cut shorter meanwhile
// ends the send as a failure, and the server never takes the cut request as a declaration.
void TstUpload::fileThatShrinksIsNotSentCut() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.write("d.pdf", pdf(QByteArray(8 * 1024 * 1024, ' ')));
  const UrlParts url = SplitUrl(simplesUrl(server.port()));
  QString error;
  auto request = OpenUploadRequest(app.file("d.pdf"), url, "objArquivo", "d.pdf", "application/pdf", &error);
  QVERIFY2(request, qPrintable(error));
  QVERIFY(QFile::resize(app.file("d.pdf"), 1024 * 1024));
  Uploader up;
  QSignalSpy failed(&up, &Uploader::errorOccurred);
  QSignalSpy answers(&up, &Uploader::answerComplete);
  QVERIFY(up.send(UploadTarget{url.Host, quint16(url.Port), false, {}}, std::move(*request)));
  QVERIFY(failed.wait(10000));
  QVERIFY2(failed[0][1].toString().startsWith(QStringLiteral("O arquivo mudou durante o envio")),
           qPrintable(failed[0][1].toString()));
  QCOMPARE(answers.size(), 0);
  QTest::qWait(300);
  QCOMPARE(server.rows("SELECT * FROM transmissao").size(), 0);
}

void TstUpload::answersEndedEarlyOrTrickled_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QByteArray>("answer");
  QTest::addColumn<bool>("trickle");   // then a byte every 100 ms, never closing
  QTest::addColumn<int>("status");     // -1: no answer, the deadline's failure
  QTest::newRow("whole status line")    << QByteArray("HTTP/1.0 200 OK\r\n\r\nok")  << false << 200;
  QTest::newRow("status line cut")      << QByteArray("HTTP/1.0 200")             << false << 0;
  QTest::newRow("trickle after status") << QByteArray("HTTP/1.0 200 OK\r\n")      << true  << -1;
  QTest::newRow("trickle in status")    << QByteArray("HTTP/1.0 20")              << true  << -1;
  // clang-format on
}

// An answer is HTTP only when its status line arrived whole, and a server that trickles never
// holds the upload past its overall deadline (shortened here).
void TstUpload::answersEndedEarlyOrTrickled() {
  QFETCH(QByteArray, answer);
  QFETCH(bool, trickle);
  QFETCH(int, status);
  CannedServer server;
  server.handler = [&](QTcpSocket* s, const CannedServer::Request&) {
    s->write(answer);
    if (!trickle) {
      s->disconnectFromHost();
      return;
    }
    auto* drip = new QTimer(s);
    QObject::connect(drip, &QTimer::timeout, s, [s] { s->write("0"); });
    drip->start(100);
  };
  QCOMPARE(UploadDeadlineMs(64 * 1024 * 10), qint64(5 * 60 * 1000 + 10 * 1000));
  Uploader up;
  QSignalSpy failed(&up, &Uploader::errorOccurred);
  QSignalSpy answers(&up, &Uploader::answerComplete);
  QElapsedTimer clock;
  clock.start();
  qputenv("ZIDE_UPLOAD_PRAZO_MS", "1500");
  QVERIFY(up.send("127.0.0.1", server.port(),
                  BuildUploadRequest("x", SplitUrl("http://h/a"), "objArquivo", "x.GDB", "application/octet-stream")));
  qunsetenv("ZIDE_UPLOAD_PRAZO_MS");
  QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty() || !answers.isEmpty(), 10000);
  if (status < 0) {
    QCOMPARE(answers.size(), 0);
    QCOMPARE(failed[0][0].toInt(), 10060);
    QCOMPARE(failed[0][1].toString(), QStringLiteral("Tempo esgotado sem resposta do servidor"));
    QVERIFY(clock.elapsed() >= 1400);
  } else {
    QCOMPARE(failed.size(), 0);
    QCOMPARE(answers[0][1].toInt(), status);
  }
}

QTEST_MAIN(TstUpload)
#include "tst_upload.moc"
