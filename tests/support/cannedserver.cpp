#include "cannedserver.h"

#include <QTcpSocket>

CannedServer::CannedServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, &CannedServer::onConnection);
}

void CannedServer::onConnection() {
  while (QTcpSocket* s = server_.nextPendingConnection()) {
    ++connections;
    auto buffer = std::make_shared<QByteArray>();
    connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
      buffer->append(s->readAll());
      const qsizetype end = buffer->indexOf("\r\n\r\n");
      if (end < 0) return;
      const QByteArray head = buffer->left(end);
      qsizetype length = 0;
      for (const QByteArray& line : head.split('\n'))
        if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
      if (buffer->size() < end + 4 + length) return;
      requests.append({head, buffer->mid(end + 4, length)});
      buffer->clear();
      if (handler) {
        handler(s, requests.last());
        return;
      }
      if (!bodies_.isEmpty()) last_ = bodies_.dequeue();
      s->write("HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
               QByteArray::number(last_.size()) + "\r\nConnection: close\r\n\r\n" + last_);
      s->disconnectFromHost();
    });
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
  }
}

QByteArray CannedServer::envelope(const QString& operation, const QString& result) {
  QString escaped = result.toHtmlEscaped();
  return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
          "xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\"><SOAP-ENV:Body><ns1:" +
          operation + "Response xmlns:ns1=\"urn:zide\"><return>" + escaped + "</return></ns1:" + operation +
          "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>")
      .toUtf8();
}

QByteArray CannedServer::response(const QByteArray& statusLine, const QByteArray& body,
                                  const QByteArray& extraHeaders) {
  return "HTTP/1.1 " + statusLine +
         "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
         extraHeaders + "Connection: close\r\n\r\n" + body;
}
