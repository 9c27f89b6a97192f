// The sandbox's SOAP answers, read through the client's own exchange and result reader.
#include <QtTest>
#include <QXmlStreamReader>

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "net/soap.h"
#include "net/upload.h"
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
  void faultsEndTheExchange_data();
  void faultsEndTheExchange();
  void listDetailsAndReceiptAfterUpload();
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

void TstSandboxSoap::faultsEndTheExchange_data() {
  QTest::addColumn<QString>("mode");
  QTest::addColumn<bool>("exchangeOk");
  QTest::newRow("recusar") << "recusar" << false;
  QTest::newRow("fechar-no-envio") << "fechar-no-envio" << false;
  QTest::newRow("silencio") << "silencio" << false;
  QTest::newRow("lixo") << "lixo" << false;
  QTest::newRow("erro500") << "erro500" << true;  // a body arrives; the result reader then fails
  QTest::newRow("only uploads fail") << "silencio:upload" << true;
}

void TstSandboxSoap::faultsEndTheExchange() {
  QFETCH(QString, mode);
  QFETCH(bool, exchangeOk);
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181", "--falha", mode});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  SetSoapInactivityTimeoutMs(800);
  QElapsedTimer clock;
  clock.start();
  QString response, result;
  const bool ok = SendSoapRequest("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}}, &response);
  SetSoapInactivityTimeoutMs(60000);
  QVERIFY(clock.elapsed() < 10000);
  QVERIFY2(ok == exchangeOk, qPrintable(LastSoapError()));
  if (!ok) QVERIFY(response.isEmpty());
  QCOMPARE(GetResult(response, "return", &result), mode == "silencio:upload");
}

void TstSandboxSoap::listDetailsAndReceiptAfterUpload() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181", "--data-servidor", kDate});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  // Two references the file does not hold: both recorded with status 2 and a message.
  const UrlParts url = SplitUrl("http://127.0.0.1:" + QString::number(server.port()) +
                                " /client_zide/xt_upload.php?contador=1&chave=" + kKey + "&gias=7,8");
  Uploader up;
  QSignalSpy done(&up, &Uploader::answerComplete);
  QVERIFY(up.send(url.Host, quint16(url.Port), BuildUploadRequest("not a database", url, "objArquivo", "ZIDE.GDB", "application/octet-stream")));
  QVERIFY(done.wait(10000));

  const QString list = call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}});
  QXmlStreamReader xml(list);
  QStringList refs, protocols;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("referencia")) refs << xml.readElementText();
    if (xml.name() == QLatin1String("protocolo")) protocols << xml.readElementText();
  }
  QVERIFY(!xml.hasError());
  QCOMPARE(refs, (QStringList{"GIA/7", "GIA/8"}));
  QCOMPARE(protocols.size(), 2);
  QVERIFY(protocols[0].startsWith("2025"));

  const QString details = call("Transferencia.ver", {{"strNome", protocols[1]}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}});
  QVERIFY2(details.startsWith("<detalhes><transmissao PROTOCOLO=\"" + protocols[1] + "\">"), qPrintable(details));
  QVERIFY(details.contains("<mensagem PROTOCOLO=\"" + protocols[1] + "\"><DETALHE>A referência 8 não foi encontrada"));
  QCOMPARE(call("Transferencia.ver", {{"strNome", protocols[1]}, {"strDiretorioDestino", "vbs"}, {"Chave", "OUTRA"}}),
           QStringLiteral("CHAVE_INVALIDA"));

  // The receipt address the main window builds.
  QNetworkAccessManager nam;
  auto get = [&](const QString& query) {
    QNetworkReply* r = nam.get(QNetworkRequest(QUrl("http://127.0.0.1:" + QString::number(server.port()) + "/protocoloDown.php?" + query)));
    QSignalSpy finished(r, &QNetworkReply::finished);
    finished.wait(10000);
    const QString body = QString::fromLatin1(r->readAll());
    r->deleteLater();
    return body;
  };
  const QString receipt = get("IE=" + kIe + "&key=" + kKey + "&ref=GIA/8");
  QVERIFY2(receipt.contains(protocols[1]) && receipt.contains("ZIDE.GDB"), qPrintable(receipt));
  QVERIFY(!receipt.contains(protocols[0]));
  QVERIFY(get("IE=" + kIe + "&key=ERRADA&ref=GIA/8").contains("Acesso n"));
  QVERIFY(get("IE=" + kIe + "&key=" + kKey + "&ref=01/1999").contains("Nenhuma entrega"));
}

QTEST_MAIN(TstSandboxSoap)
#include "tst_sandbox_soap.moc"
