// The sandbox's SOAP answers, read through the client's own exchange and result reader.
#include <QtTest>
#include <QXmlStreamReader>

#include "net/soap.h"
#include "support/sandbox.h"
#include "support/testenv.h"

namespace {
const QString kIe = QStringLiteral("0012345670089");
const QString kKey = QStringLiteral("AB12CD34");
const QString kDate = QStringLiteral("05/03/2025 14:07:09");

QString call(const QString& op, const QList<SoapParam>& params, QString* raw = nullptr) {
  QString response, result;
  if (!SendSoapRequest(op, params, &response)) return QStringLiteral("<exchange failed: %1>").arg(LastSoapError());
  if (raw) *raw = response;
  if (!GetResult(response, "return", &result)) return QStringLiteral("<no result>");
  return result;
}

// 1-based, as the client reads the positions.
QString at(const QString& s, int from, int to) { return s.mid(from - 1, to - from + 1); }
}  // namespace

class TstSandboxSoap : public QObject {
  Q_OBJECT
 private slots:
  void ver2Positions();
  void ver2Refusals();
  void contadorRecordsTwelveInOrder();
  void ecnpjPositionsAndRefusals();
  void unknownOperationAndMalformedBody();
  void helperReportsFailureToStart();
};

void TstSandboxSoap::ver2Positions() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11.222.333/0001-81", "--data-servidor", kDate,
                        "--ano-trabalho", "2024/2025", "--versao", "1.16.02"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QString raw;
  const QString result = call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}}, &raw);
  QCOMPARE(at(result, 32, 50), kDate);
  QCOMPARE(at(result, 59, 67), QStringLiteral("2024/2025"));
  QCOMPARE(at(result, 78, 97), QStringLiteral("1.16.02").leftJustified(20));
  QVERIFY(raw.contains("1.16.02"));
  QVERIFY(!raw.contains("CHAVE_I"));
  QXmlStreamReader xml(result);
  QVERIFY(xml.readNextStartElement());
  QCOMPARE(xml.name(), QStringLiteral("listaTransferencias"));
  xml.skipCurrentElement();
  while (!xml.atEnd()) xml.readNext();
  QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  // The request arrived with the headers the client must send.
  const auto req = server.rows("SELECT soapaction, content_type, operacao FROM requisicao");
  QCOMPARE(req.size(), 1);
  QCOMPARE(req[0].value("soapaction").toString(), QStringLiteral("Transferencia.ver2"));
  QCOMPARE(req[0].value("content_type").toString(), QStringLiteral("text/xml"));
}

void TstSandboxSoap::ver2Refusals() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QCOMPARE(call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", "WRONG"}}),
           QStringLiteral("CHAVE_INVALIDA"));
  QCOMPARE(call("Transferencia.ver2", {{"strNome", "0019999999999"}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}}),
           QStringLiteral("NAO_AUTORIZADO"));
  // Details of a protocol nobody issued.
  QCOMPARE(call("Transferencia.ver", {{"strNome", "2025000001"}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}}),
           QStringLiteral("NAO_AUTORIZADO"));
}

void TstSandboxSoap::contadorRecordsTwelveInOrder() {
  TestAppFolder app;
  SandboxServer server;
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QList<SoapParam> params;
  for (int i = 1; i <= 12; ++i)
    params.append({QStringLiteral("p%1").arg(i), i == 3 ? QStringLiteral("Escritório D''Ávila") : i == 7 ? QString() : QString::number(i)});
  QCOMPARE(call("Transferencia.contador", params), QStringLiteral("CONTADOR_CADASTRADO"));
  params[0].value = "second";
  call("Transferencia.contador", params);
  const auto first = server.contadorCall(1);
  QCOMPARE(first.size(), 12);
  for (int i = 0; i < 12; ++i) {
    QCOMPARE(first[i].first, params[i].name);
    QCOMPARE(first[i].second, i == 0 ? QStringLiteral("1") : params[i].value);
  }
  QCOMPARE(server.contadorCall(2).value(0).second, QStringLiteral("second"));
  QVERIFY(server.contadorCall(3).isEmpty());
}

void TstSandboxSoap::ecnpjPositionsAndRefusals() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S", "--contribuinte",
                        "0020000000001:ZZ99YY88:44555666000199", "--data-servidor", kDate});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  const QString simples = call("Transferencia.ecnpj", {{"ie", kIe}, {"cnpj", "11.222.333/0001-81"}, {"key", "!QORTENBAL!"}});
  QCOMPARE(at(simples, 21, 39), kDate);
  QCOMPARE(at(simples, 51, 51), QStringLiteral("S"));
  QCOMPARE(at(simples, 61, 68), kKey);
  const QString normal = call("Transferencia.ecnpj", {{"ie", "0020000000001"}, {"cnpj", "44.555.666/0001-99"}, {"key", "!QORTENBAL!"}});
  QCOMPARE(at(normal, 51, 51), QStringLiteral("N"));
  QCOMPARE(at(normal, 61, 68), QStringLiteral("ZZ99YY88"));
  QString raw;
  call("Transferencia.ecnpj", {{"ie", kIe}, {"cnpj", "44.555.666/0001-99"}, {"key", "!QORTENBAL!"}}, &raw);
  QVERIFY(raw.contains("NAO_AUTORIZADO"));
  call("Transferencia.ecnpj", {{"ie", "0030000000000"}, {"cnpj", "11.222.333/0001-81"}, {"key", "!QORTENBAL!"}}, &raw);
  QVERIFY(raw.contains("NAO_AUTORIZADO"));
  call("Transferencia.ecnpj", {{"ie", kIe}, {"cnpj", "11.222.333/0001-81"}, {"key", "outra"}}, &raw);
  QVERIFY(raw.contains("NAO_AUTORIZADO"));
}

void TstSandboxSoap::unknownOperationAndMalformedBody() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QString raw;
  // A fault is still an answer: the exchange succeeds, the result reader finds nothing.
  QCOMPARE(call("Transferencia.outra", {}, &raw), QStringLiteral("<no result>"));
  QVERIFY(raw.contains("Fault"));
  QCOMPARE(call("Transferencia.contador", {{"a", "x & y"}}), QStringLiteral("<no result>"));
  QVERIFY(server.rows("SELECT * FROM contador").isEmpty());
}

void TstSandboxSoap::helperReportsFailureToStart() {
  SandboxServer server({"--falha", "desconhecida"});
  QVERIFY(!server.isRunning());
  QVERIFY(server.log().contains("--falha"));
}

QTEST_MAIN(TstSandboxSoap)
#include "tst_sandbox_soap.moc"
