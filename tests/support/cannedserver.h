#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

// An HTTP peer inside the test process that answers each request with the next scripted body
// (or the last one again), and keeps what it received. For answers a real server would not give.
class CannedServer : public QObject {
  Q_OBJECT
 public:
  struct Request {
    QByteArray head;  // request line and headers
    QByteArray body;
  };
  CannedServer();
  quint16 port() const { return server_.serverPort(); }
  void answer(const QByteArray& body) { bodies_.enqueue(body); }
  QList<Request> requests;
  int connections = 0;
  // When set, takes over the answer to each whole request (the request is already kept): write
  // anything, close or not.
  std::function<void(QTcpSocket*, const Request&)> handler;
  // A whole HTTP/1.1 answer with the given status line, closing the connection.
  static QByteArray response(const QByteArray& statusLine, const QByteArray& body,
                             const QByteArray& extraHeaders = QByteArray());
  // The SOAP envelope the municipality's server wraps a result in (the text is escaped).
  static QByteArray envelope(const QString& operation, const QString& result);

 private:
  void onConnection();
  QTcpServer server_;
  QQueue<QByteArray> bodies_;
  QByteArray last_;
};
