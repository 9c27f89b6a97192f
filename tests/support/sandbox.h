#pragma once
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

// The municipality's server for one test: starts the built zide-sandbox on a free loopback port
// with its own SQLite file (plus the test's arguments, e.g. "--contribuinte", "IE:CHAVE:CNPJ[:S]",
// "--ano-trabalho", "--versao", "--data-servidor", "--falha", MODE) and kills it when destroyed.
//
//   SandboxServer server({"--contribuinte", "0012345670089:AB12CD34:11222333000181"});
//   QVERIFY2(server.isRunning(), qPrintable(server.log()));
//   app.writeSettings("127.0.0.1", QString::number(server.port()));
class SandboxServer {
 public:
  explicit SandboxServer(const QStringList& arguments = {}, const QString& dataFile = QString());
  ~SandboxServer();
  SandboxServer(const SandboxServer&) = delete;
  SandboxServer& operator=(const SandboxServer&) = delete;

  bool isRunning() const;
  quint16 port() const { return port_; }
  // Its SQLite file: tables contribuinte, transmissao, contador, contador_parametro, requisicao.
  QString dataFile() const { return dataFile_; }
  // Everything it wrote on standard error so far (one line per request), or why it did not start.
  QString log() const;
  // Rows of a query on its data file, each column by name.
  QList<QVariantMap> rows(const QString& sql) const;
  // The parameters (name, value) of the n-th Transferencia.contador call, 1 = first.
  QList<QPair<QString, QString>> contadorCall(int n) const;
  void stop();

 private:
  QTemporaryDir dir_;
  QString dataFile_;
  QString logFile_;
  QString startError_;
  QProcess process_;
  quint16 port_ = 0;
};
