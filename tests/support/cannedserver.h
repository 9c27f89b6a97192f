#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QTcpServer>

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
  // The SOAP envelope the municipality's server wraps a result in (the text is escaped).
  static QByteArray envelope(const QString& operation, const QString& result);

 private:
  void onConnection();
  QTcpServer server_;
  QQueue<QByteArray> bodies_;
  QByteArray last_;
};
