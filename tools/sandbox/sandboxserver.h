#pragma once
#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTemporaryFile>
#include <memory>

#include "sandboxdata.h"

class QTcpSocket;

// Faults the sandbox can play, on every request or only on one kind of endpoint.
// Dividir is not a failure of the request: the answer comes in two writes with a pause between them.
// FecharSemResposta handles the request as usual (a transmission is recorded) and then closes
// without a word: the client cannot tell whether it arrived.
enum class Falha { Nenhuma, Recusar, FecharNoEnvio, Silencio, Lixo, Erro500, Dividir, FecharSemResposta };

struct SandboxConfig {
  QString anoTrabalho = QStringLiteral("2025/2026");
  QString versao = QStringLiteral("1.15.01");
  QString dataServidor;  // fixed "dd/MM/yyyy HH:mm:ss", or empty for the clock
  Falha falha = Falha::Nenhuma;
  QString falhaEm;  // "", "soap" or "upload"
  // Memory all connections together may hold for request bodies, and connections open at once:
  // a few large uploads or many idle connections must not exhaust the machine.
  qint64 orcamentoBytes = 256LL * 1024 * 1024;
  int maxConexoes = 32;
  // A connection has this long to send its whole head, and may then go this long without a byte
  // until its body is in; a slow client cannot keep a place for ever.
  int prazoCabecalhoMs = 10000;
  int ociosoMs = 30000;
  // Accepts an upload as usual but leaves its last reference unrecorded (a Simples Nacional upload:
  // nothing recorded), while the answer still lists them all: the client must believe the list.
  bool omitirReferencia = false;
};

struct HttpRequest {
  QByteArray method;
  QByteArray target;  // path and query as sent
  QByteArray path;
  QByteArray query;
  QByteArray version;
  QMap<QByteArray, QByteArray> headers;  // names in lower case
  QByteArray body;                       // a small body; a large one is in bodyFile
  std::shared_ptr<QTemporaryFile> bodyFile;
  qint64 bodySize() const { return bodyFile ? bodyFile->size() : body.size(); }
  QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
};

struct HttpResponse {
  int status = 200;
  QByteArray contentType = "text/html; charset=windows-1252";
  QByteArray body;
  QString operation = {};  // for the log
};

// What one connection has gathered so far.
struct Pending {
  QByteArray buffer;
  bool headDone = false;
  HttpRequest req;
  qint64 length = 0;
  qint64 reserved = 0;  // this connection's share of the body budget
  qint64 received = 0;  // body bytes so far
  bool done = false;
  qint64 openedAt = 0;  // ms on the server's clock
};

class SandboxServer : public QObject {
  Q_OBJECT
 public:
  SandboxServer(SandboxData& data, SandboxConfig config);
  bool listen(quint16 port, QString* error);
  quint16 port() const { return server_.serverPort(); }
  // For "recusar": the port was announced, now nobody answers on it.
  void stopListening() { server_.close(); }

  QString serverDate() const;
  const SandboxConfig& config() const { return config_; }
  SandboxData& data() { return data_; }

 private:
  void onConnection();
  void onReadyRead(QTcpSocket* s, Pending& pending);
  void handle(QTcpSocket* s, HttpRequest& req);
  bool faultApplies(const HttpRequest& req) const;
  HttpResponse dispatch(HttpRequest& req);
  void send(QTcpSocket* s, const HttpRequest& req, const HttpResponse& resp);
  void sendInTwo(QTcpSocket* s, const QByteArray& head, const QByteArray& body);
  // Answers `status` at once and closes, for requests refused before they are read.
  void refuse(QTcpSocket* s, int status, const QByteArray& why);
  void release(Pending& p);
  // When every place is taken, the connection that has waited longest for its head (and long
  // enough to be slow, not just new) gives its place up; false when there is none.
  bool evictSlowest();

  // Before server_: the connections it deletes on the way out still give their share back.
  qint64 buffered_ = 0;  // body bytes reserved by open connections
  int connections_ = 0;
  QHash<QTcpSocket*, std::shared_ptr<Pending>> open_;
  QTcpServer server_;
  SandboxData& data_;
  SandboxConfig config_;
};

// Endpoints (soapservice.cpp, uploadservice.cpp).
HttpResponse HandleSoap(SandboxServer& server, const HttpRequest& req);
HttpResponse HandleUploadZide(SandboxServer& server, const HttpRequest& req);
HttpResponse HandleUploadSimples(SandboxServer& server, const HttpRequest& req);
HttpResponse HandleProtocolo(SandboxServer& server, const HttpRequest& req);

// Where "dividir" cuts an answer body: at half, but never after the first marker a client looks
// for ("ARQUIVO INVALIDO", "PROTOCOLO=", "CHAVE_INVALIDA", "NENHUMA GIA"), so the marker always
// comes in the second write.
qsizetype SplitPoint(const QByteArray& body);
// Pause between the two writes of "dividir", in milliseconds.
constexpr int kPausaDividirMs = 400;

// Query values, percent-decoded, read as Windows-1252.
QMap<QString, QString> ParseQuery(const QByteArray& query);
