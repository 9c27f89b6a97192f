#include "sandboxserver.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

#include "base/cp1252.h"

namespace {
constexpr qint64 kMaxBody = 512LL * 1024 * 1024;
constexpr qint64 kMaxHead = 64 * 1024;
// What Qt reads ahead from one socket: the rest waits in the kernel (and the client) until the
// connection has room for it.
constexpr qint64 kReadAhead = 256 * 1024;
// Bodies above this go to a temporary file as they arrive: memory stays within the budget
// whatever the uploads weigh.
constexpr qint64 kInMemoryBody = 1024 * 1024;
// A connection still without its head is only given up for a newcomer after this long.
constexpr qint64 kSlowAfterMs = 5000;

qint64 nowMs() {
  static QElapsedTimer clock = [] {
    QElapsedTimer c;
    c.start();
    return c;
  }();
  return clock.elapsed();
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

void logLine(const QString& text) {
  const QByteArray line = (QDateTime::currentDateTime().toString("HH:mm:ss.zzz ") + text + '\n').toLocal8Bit();
  fwrite(line.constData(), 1, size_t(line.size()), stderr);
  fflush(stderr);
}

bool parseHead(const QByteArray& head, HttpRequest* req) {
  const QList<QByteArray> lines = head.split('\n');
  const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
  if (first.size() != 3) return false;
  req->method = first[0];
  req->target = first[1];
  req->version = first[2];
  const qsizetype q = req->target.indexOf('?');
  req->path = q < 0 ? req->target : req->target.left(q);
  req->query = q < 0 ? QByteArray() : req->target.mid(q + 1);
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) req->headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
  }
  return true;
}
}  // namespace

QMap<QString, QString> ParseQuery(const QByteArray& query) {
  QMap<QString, QString> out;
  for (const QByteArray& pair : query.split('&')) {
    if (pair.isEmpty()) continue;
    const qsizetype eq = pair.indexOf('=');
    const QByteArray name = eq < 0 ? pair : pair.left(eq);
    const QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
    out.insert(fromCp1252(QByteArray::fromPercentEncoding(name)), fromCp1252(QByteArray::fromPercentEncoding(value)));
  }
  return out;
}

SandboxServer::SandboxServer(SandboxData& data, SandboxConfig config) : data_(data), config_(std::move(config)) {
  connect(&server_, &QTcpServer::newConnection, this, &SandboxServer::onConnection);
}

bool SandboxServer::listen(quint16 port, QString* error) {
  if (server_.listen(QHostAddress::LocalHost, port)) return true;
  *error = server_.errorString();
  return false;
}

QString SandboxServer::serverDate() const {
  if (!config_.dataServidor.isEmpty()) return config_.dataServidor;
  return QDateTime::currentDateTime().toString("dd/MM/yyyy HH:mm:ss");
}

void SandboxServer::onConnection() {
  while (QTcpSocket* s = server_.nextPendingConnection()) {
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    if (connections_ >= config_.maxConexoes && !evictSlowest()) {
      logLine(QStringLiteral("127.0.0.1 conexão recusada: %1 conexões abertas").arg(connections_));
      refuse(s, 503, "Servidor ocupado: conexões demais");
      continue;
    }
    ++connections_;
    s->setReadBufferSize(kReadAhead);
    auto pending = std::make_shared<Pending>();
    pending->openedAt = nowMs();
    open_.insert(s, pending);
    connect(s, &QTcpSocket::readyRead, this, [this, s, pending] { onReadyRead(s, *pending); });
    connect(s, &QObject::destroyed, this, [this, s, pending] {
      --connections_;
      open_.remove(s);
      release(*pending);
    });
    // The head within its deadline, then never a long silence until the body is in.
    auto* idle = new QTimer(s);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, s, [s, pending] {
      if (pending->done) return;
      logLine(pending->headDone ? QStringLiteral("127.0.0.1 corpo parado; conexão fechada")
                                : QStringLiteral("127.0.0.1 cabeçalho incompleto no prazo; conexão fechada"));
      s->abort();
    });
    connect(s, &QTcpSocket::readyRead, idle, [this, idle, pending] {
      if (pending->headDone && !pending->done) idle->start(config_.ociosoMs);
    });
    idle->start(config_.prazoCabecalhoMs);
  }
}

bool SandboxServer::evictSlowest() {
  QTcpSocket* slowest = nullptr;
  qint64 since = nowMs() - kSlowAfterMs;
  for (auto it = open_.cbegin(); it != open_.cend(); ++it) {
    if (it.value()->headDone || it.value()->openedAt > since) continue;
    since = it.value()->openedAt;
    slowest = it.key();
  }
  if (!slowest) return false;
  logLine(QStringLiteral("127.0.0.1 conexão sem cabeçalho há %1 ms cede o lugar").arg(nowMs() - since));
  // Its place is given back at once, not when the socket is gone.
  open_.remove(slowest);
  slowest->disconnect(this);
  --connections_;
  slowest->abort();
  slowest->deleteLater();
  return true;
}

void SandboxServer::release(Pending& p) {
  buffered_ -= p.reserved;
  p.reserved = 0;
  p.req.body = QByteArray();
  p.req.bodyFile.reset();
  p.buffer = QByteArray();
}

void SandboxServer::refuse(QTcpSocket* s, int status, const QByteArray& why) {
  QByteArray head = "HTTP/1.0 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
  head += "Server: zide-sandbox\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(why.size()) +
          "\r\nConnection: close\r\n\r\n";
  s->write(head + why);
  s->disconnectFromHost();
}

bool SandboxServer::faultApplies(const HttpRequest& req) const {
  if (config_.falha == Falha::Nenhuma) return false;
  if (config_.falhaEm.isEmpty()) return true;
  const bool soap = req.path.startsWith("/ovu/");
  return config_.falhaEm == (soap ? QLatin1String("soap") : QLatin1String("upload"));
}

void SandboxServer::onReadyRead(QTcpSocket* s, Pending& pending) {
  Pending* p = &pending;
  if (p->done) {
    s->readAll();
    return;
  }
  p->buffer.append(s->readAll());
  if (!p->headDone) {
    const qsizetype end = p->buffer.indexOf("\r\n\r\n");
    if (end < 0) {
      if (p->buffer.size() > kMaxHead) s->abort();
      return;
    }
    if (!parseHead(p->buffer.left(end), &p->req)) {
      p->done = true;
      logLine(QStringLiteral("127.0.0.1 pedido ilegível; conexão fechada"));
      s->abort();
      return;
    }
    p->headDone = true;
    p->length = p->req.header("content-length").toLongLong();
    if (p->length < 0 || p->length > kMaxBody) {
      p->done = true;
      HttpResponse r{413, "text/plain", "Payload Too Large"};
      send(s, p->req, r);
      return;
    }
    p->buffer.remove(0, end + 4);
    if (p->length > kInMemoryBody) {
      // Streamed to disk as it comes: only the socket's read-ahead is held.
      p->req.bodyFile = std::make_shared<QTemporaryFile>(QDir::temp().filePath("zide-sandbox-corpo-XXXXXX"));
      if (!p->req.bodyFile->open()) {
        p->done = true;
        logLine(QStringLiteral("127.0.0.1 sem espaço temporário para o corpo: ") + p->req.bodyFile->errorString());
        refuse(s, 503, "Servidor ocupado: sem espaço para o pedido");
        return;
      }
    } else {
      if (buffered_ + p->length > config_.orcamentoBytes) {
        p->done = true;
        logLine(QStringLiteral("127.0.0.1 %1 %2 -> 503: %3 bytes não cabem (%4 de %5 em uso)")
                    .arg(QString::fromLatin1(p->req.method), QString::fromLatin1(p->req.target))
                    .arg(p->length)
                    .arg(buffered_)
                    .arg(config_.orcamentoBytes));
        refuse(s, 503, "Servidor ocupado: memória de pedidos esgotada");
        return;
      }
      // A small body is held until it is answered: it is reserved from the budget up front.
      p->reserved = p->length;
      buffered_ += p->reserved;
      p->req.body.reserve(p->length);
    }
  }
  // Bytes beyond the announced length are not kept.
  const QByteArray take = p->buffer.left(p->length - p->received);
  p->buffer.clear();
  if (p->headDone && !take.isEmpty()) {
    if (p->req.bodyFile) {
      if (p->req.bodyFile->write(take) != take.size()) {
        p->done = true;
        logLine(QStringLiteral("127.0.0.1 falha ao gravar o corpo: ") + p->req.bodyFile->errorString());
        refuse(s, 503, "Servidor ocupado: sem espaço para o pedido");
        return;
      }
    } else {
      p->req.body.append(take);
    }
    p->received += take.size();
  }

  if (faultApplies(p->req) && config_.falha == Falha::Recusar) {
    // Scoped to one kind of request, refusal can only come once the path is known: reset at once.
    p->done = true;
    logLine(QStringLiteral("127.0.0.1 %1 %2 -> recusado")
                .arg(QString::fromLatin1(p->req.method), QString::fromLatin1(p->req.target)));
    s->abort();
    return;
  }
  if (faultApplies(p->req) && config_.falha == Falha::FecharNoEnvio) {
    // Drop the line part-way through the request: after the head of a small one, at half of a large one.
    if (p->length < 64 * 1024 || p->received >= p->length / 2) {
      p->done = true;
      logLine(QStringLiteral("127.0.0.1 %1 %2 -> conexão fechada no envio (%3 de %4 bytes)")
                  .arg(QString::fromLatin1(p->req.method), QString::fromLatin1(p->req.target))
                  .arg(p->received)
                  .arg(p->length));
      s->abort();
    }
    return;
  }
  if (p->received < p->length) return;
  if (p->req.bodyFile && !p->req.bodyFile->flush()) {
    p->done = true;
    refuse(s, 503, "Servidor ocupado: sem espaço para o pedido");
    return;
  }
  p->done = true;
  handle(s, p->req);
  // Answered (or left in silence): the body is no longer needed.
  release(*p);
}

void SandboxServer::handle(QTcpSocket* s, HttpRequest& req) {
  const QString line = QStringLiteral("127.0.0.1 %1 %2 (%3 bytes)")
                           .arg(QString::fromLatin1(req.method), fromCp1252(req.target))
                           .arg(req.bodySize());
  if (faultApplies(req)) {
    switch (config_.falha) {
      case Falha::Silencio:
        logLine(line + QStringLiteral(" -> silêncio"));
        return;  // the socket stays open and nothing is ever written
      case Falha::Lixo: {
        logLine(line + QStringLiteral(" -> lixo"));
        s->write(QByteArray("\x00\xff\xfe lixo \x1b[0m sem cabecalho HTTP \r\n\x07", 36));
        s->disconnectFromHost();
        return;
      }
      case Falha::Erro500: {
        logLine(line + QStringLiteral(" -> 500"));
        HttpResponse r{500, "text/html; charset=windows-1252",
                       "<html><body><h1>500 Internal Server Error</h1><p>Erro interno do servidor.</p></body></html>"};
        send(s, req, r);
        return;
      }
      case Falha::FecharSemResposta: {
        const HttpResponse resp = dispatch(req);
        logLine(line + QStringLiteral(" -> %1 %2, conexão fechada sem resposta").arg(resp.status).arg(resp.operation));
        data_.logRequest(QString::fromLatin1(req.method), fromCp1252(req.target), QString(),
                         QString::fromLatin1(req.header("content-type")), req.bodySize(), resp.operation, 0);
        s->disconnectFromHost();
        return;
      }
      default: break;
    }
  }
  const HttpResponse resp = dispatch(req);
  logLine(line +
          QStringLiteral(" -> %1%2").arg(resp.status).arg(resp.operation.isEmpty() ? QString() : " " + resp.operation));
  data_.logRequest(QString::fromLatin1(req.method), fromCp1252(req.target),
                   req.headers.contains("soapaction") ? QString::fromUtf8(req.header("soapaction")) : QString(),
                   QString::fromLatin1(req.header("content-type")), req.bodySize(), resp.operation, resp.status);
  send(s, req, resp);
}

HttpResponse SandboxServer::dispatch(HttpRequest& req) {
  if (req.path == "/ovu/server/index_zide.php") {
    if (req.method != "POST") return {405, "text/plain", "POST only"};
    if (req.bodyFile) return {413, "text/plain", "Payload Too Large"};
    return HandleSoap(*this, req);
  }
  if (req.path == "/client_zide/xt_upload.php" || req.path == "/client/xt_upload_simples.php") {
    if (req.method != "POST") return {405, "text/plain", "POST only"};
    return req.path.startsWith("/client_zide") ? HandleUploadZide(*this, req) : HandleUploadSimples(*this, req);
  }
  if (req.path == "/protocoloDown.php") return HandleProtocolo(*this, req);
  return {404, "text/html; charset=windows-1252",
          "<html><body><h1>404</h1><p>Página não encontrada.</p></body></html>"};
}

qsizetype SplitPoint(const QByteArray& body) {
  qsizetype at = body.size() / 2;
  for (const char* marker : {"ARQUIVO INVALIDO", "PROTOCOLO=", "CHAVE_INVALIDA", "NENHUMA GIA"}) {
    const qsizetype found = body.indexOf(marker);
    if (found >= 0 && found < at) at = found;
  }
  return at;
}

void SandboxServer::send(QTcpSocket* s, const HttpRequest& req, const HttpResponse& resp) {
  // Answer in the version asked, and close: the client reads until the end of the connection.
  const QByteArray version = req.version == "HTTP/1.1" ? QByteArray("HTTP/1.1") : QByteArray("HTTP/1.0");
  QByteArray head = version + ' ' + QByteArray::number(resp.status) + ' ' + reason(resp.status) + "\r\n";
  head += "Server: zide-sandbox\r\nContent-Type: " + resp.contentType +
          "\r\nContent-Length: " + QByteArray::number(resp.body.size()) + "\r\nConnection: close\r\n\r\n";
  if (config_.falha == Falha::Dividir && faultApplies(req)) {
    sendInTwo(s, head, resp.body);
    return;
  }
  s->write(head + resp.body);
  s->disconnectFromHost();
}

void SandboxServer::sendInTwo(QTcpSocket* s, const QByteArray& head, const QByteArray& body) {
  const qsizetype at = SplitPoint(body);
  s->write(head + body.left(at));
  s->flush();
  logLine(QStringLiteral("127.0.0.1 resposta dividida: %1 + %2 bytes, pausa de %3 ms")
              .arg(head.size() + at)
              .arg(body.size() - at)
              .arg(kPausaDividirMs));
  // The socket is the timer's context: a client that hangs up meanwhile takes the rest with it.
  const QByteArray rest = body.mid(at);
  QTimer::singleShot(kPausaDividirMs, s, [s, rest] {
    if (s->state() != QAbstractSocket::ConnectedState) return;
    s->write(rest);
    s->disconnectFromHost();
  });
}
