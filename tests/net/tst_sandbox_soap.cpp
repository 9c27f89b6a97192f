// The sandbox's SOAP answers, read through the client's own exchange and result reader.
#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QXmlStreamReader>
#include <QtTest>

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "base/cp1252.h"
#include "net/soap.h"
#include "net/upload.h"
#include "support/accessdb.h"
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

// One upload through the client's own socket object: every data event, and when it came.
struct Arrivals {
  QList<QByteArray> chunks;
  QList<qint64> msAfterFirst;
  QByteArray answer;
  bool complete = false;
};

Arrivals uploadTo(quint16 port, const QString& path, const QByteArray& content, const QString& fileName) {
  Arrivals a;
  const UrlParts url = SplitUrl("http://127.0.0.1:" + QString::number(port) + " " + path);
  Uploader up;
  QElapsedTimer clock;
  QObject::connect(&up, &Uploader::dataArrival, [&](const QByteArray& chunk, qint64) {
    if (a.chunks.isEmpty()) clock.start();
    a.chunks << chunk;
    a.msAfterFirst << clock.elapsed();
  });
  QSignalSpy done(&up, &Uploader::answerComplete);
  if (!up.send(url.Host, quint16(url.Port),
               BuildUploadRequest(content, url, "objArquivo", fileName, "application/octet-stream")))
    return a;
  a.complete = done.wait(10000);
  if (a.complete) a.answer = done.at(0).at(0).toByteArray();
  return a;
}

QString sha1(const QByteArray& bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

QByteArray pdfWith(const QByteArray& text) {
  return "%PDF-1.4\n1 0 obj << /Producer (PGDAS-D) >> endobj\nBT (" + text + ") Tj ET\n%%EOF\n";
}

// The declaration's Access database as the ZIDE window sends it: `count` monthly references of
// the company kIe, keys from `firstId`.
QByteArray workingDatabase(const QString& path, int firstId, int count, const QDate& first) {
  QList<TestReference> refs;
  for (int i = 0; i < count; ++i) refs.append({firstId + i, 1, first.addMonths(i), "N"});
  return writeAccessDeclaration(path, {{1, kIe}}, refs);
}
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
  void splitAnswerArrivesInTwoDataEvents();
  void splitAnswerStillRecordsAndSoapStillReads();
  void transmissionKeepsTheSha1OfTheBytes();
  void zideUploadMustBeTheKeysAccessDeclaration_data();
  void zideUploadMustBeTheKeysAccessDeclaration();
  void dataFileWithoutSha1GetsTheColumn();
};

void TstSandboxSoap::ver2Positions() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11.222.333/0001-81", "--data-servidor", kDate,
                        "--ano-trabalho", "2024/2025", "--versao", "1.16.02"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QString raw;
  const QString result =
      call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}}, &raw);
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
    params.append({QStringLiteral("p%1").arg(i), i == 3   ? QStringLiteral("Escritório D''Ávila")
                                                 : i == 7 ? QString()
                                                          : QString::number(i)});
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
  const QString simples =
      call("Transferencia.ecnpj", {{"ie", kIe}, {"cnpj", "11.222.333/0001-81"}, {"key", "!QORTENBAL!"}});
  QCOMPARE(at(simples, 21, 39), kDate);
  QCOMPARE(at(simples, 51, 51), QStringLiteral("S"));
  QCOMPARE(at(simples, 61, 68), kKey);
  const QString normal =
      call("Transferencia.ecnpj", {{"ie", "0020000000001"}, {"cnpj", "44.555.666/0001-99"}, {"key", "!QORTENBAL!"}});
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
  // Values are escaped now, so a body that is not well-formed needs a broken element name.
  QCOMPARE(call("Transferencia.contador", {{"a<", "x & y"}}), QStringLiteral("<no result>"));
  QVERIFY(server.rows("SELECT * FROM contador").isEmpty());
}

void TstSandboxSoap::helperReportsFailureToStart() {
  SandboxServer server({"--falha", "desconhecida"});
  QVERIFY(!server.isRunning());
  QVERIFY(server.log().contains("--falha"));
}

void TstSandboxSoap::faultsEndTheExchange_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("mode");
  QTest::addColumn<bool>("exchangeOk");
  QTest::newRow("recusar") << "recusar" << false;
  QTest::newRow("fechar-no-envio") << "fechar-no-envio" << false;
  QTest::newRow("silencio") << "silencio" << false;
  QTest::newRow("lixo") << "lixo" << false;
  QTest::newRow("erro500") << "erro500" << true;  // a body arrives; the result reader then fails
  QTest::newRow("only uploads fail") << "silencio:upload" << true;
  // clang-format on
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
  const bool ok = SendSoapRequest("Transferencia.ver2",
                                  {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}}, &response);
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
  // What is not an Access declaration is refused, with the reason, and nothing is recorded.
  const QString path = "/client_zide/xt_upload.php?contador=1&chave=" + kKey + "&gias=7,8";
  const Arrivals junk = uploadTo(server.port(), path, "not a database", "ZIDE.GDB");
  QVERIFY2(junk.complete, qPrintable(server.log()));
  QVERIFY(junk.answer.contains("ARQUIVO INVALIDO - o arquivo enviado n"));
  QVERIFY(server.rows("SELECT id FROM transmissao").isEmpty());
  QTemporaryDir dir;
  QVERIFY(uploadTo(server.port(), path, workingDatabase(dir.filePath("zide.mdb"), 7, 2, QDate(2025, 1, 1)), "ZIDE.GDB")
              .complete);

  const QString list = call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}});
  QXmlStreamReader xml(list);
  QStringList refs, protocols;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("referencia")) refs << xml.readElementText();
    if (xml.name() == QLatin1String("protocolo")) protocols << xml.readElementText();
  }
  QVERIFY(!xml.hasError());
  QCOMPARE(refs, (QStringList{"01/2025", "02/2025"}));
  QCOMPARE(protocols.size(), 2);
  QVERIFY(protocols[0].startsWith("2025"));

  const QString details =
      call("Transferencia.ver", {{"strNome", protocols[1]}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}});
  QVERIFY2(details.startsWith("<detalhes><transmissao PROTOCOLO=\"" + protocols[1] + "\">"), qPrintable(details));
  QVERIFY(details.contains("<REFERENCIA>02/2025</REFERENCIA>"));
  QVERIFY(!details.contains("<mensagem"));
  QCOMPARE(call("Transferencia.ver", {{"strNome", protocols[1]}, {"strDiretorioDestino", "vbs"}, {"Chave", "OUTRA"}}),
           QStringLiteral("CHAVE_INVALIDA"));

  // The receipt address the main window builds.
  QNetworkAccessManager nam;
  auto get = [&](const QString& query) {
    QNetworkReply* r = nam.get(
        QNetworkRequest(QUrl("http://127.0.0.1:" + QString::number(server.port()) + "/protocoloDown.php?" + query)));
    QSignalSpy finished(r, &QNetworkReply::finished);
    finished.wait(10000);
    const QString body = QString::fromLatin1(r->readAll());
    r->deleteLater();
    return body;
  };
  const QString receipt = get("IE=" + kIe + "&key=" + kKey + "&ref=02/2025");
  QVERIFY2(receipt.contains(protocols[1]) && receipt.contains("ZIDE.GDB"), qPrintable(receipt));
  QVERIFY(!receipt.contains(protocols[0]));
  QVERIFY(get("IE=" + kIe + "&key=ERRADA&ref=02/2025").contains("Acesso n"));
  QVERIFY(get("IE=" + kIe + "&key=" + kKey + "&ref=01/1999").contains("Nenhuma entrega"));
}

void TstSandboxSoap::splitAnswerArrivesInTwoDataEvents() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S", "--falha", "dividir:upload"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  // A refusal with two markers: the cut comes before the first one, after some leading HTML.
  const Arrivals a = uploadTo(server.port(), "/client/xt_upload_simples.php?contador=1&chave=" + kKey + "&gias=",
                              pdfWith("EXTRATO e RECIBO 03/2025"), "extrato.pdf");
  QVERIFY2(a.complete, qPrintable(server.log()));
  QCOMPARE(a.chunks.size(), 2);
  QVERIFY(a.chunks[0].startsWith("HTTP/1.0 200 OK\r\n"));
  QVERIFY(a.chunks[0].contains("\r\n\r\n<html>"));
  QVERIFY(!a.chunks[0].contains("ARQUIVO INVALIDO"));
  QVERIFY(!a.chunks[0].contains("EXTRATO") && !a.chunks[0].contains("RECIBO"));
  QVERIFY(a.chunks[1].contains("ARQUIVO INVALIDO - EXTRATO"));
  QVERIFY(a.chunks[1].contains("ARQUIVO INVALIDO - RECIBO"));
  QVERIFY2(a.msAfterFirst[1] >= 300, qPrintable(QString::number(a.msAfterFirst[1])));
  // Content-Length counts the whole body, both writes together.
  const qsizetype bodyAt = a.answer.indexOf("\r\n\r\n") + 4;
  QVERIFY(a.answer.contains("Content-Length: " + QByteArray::number(a.answer.size() - bodyAt) + "\r\n"));
  QCOMPARE(a.chunks[0] + a.chunks[1], a.answer);
  // Refused as always: nothing recorded.
  QVERIFY(server.rows("SELECT id FROM transmissao").isEmpty());
  QVERIFY(server.log().contains("resposta dividida"));
}

void TstSandboxSoap::splitAnswerStillRecordsAndSoapStillReads() {
  TestAppFolder app;
  SandboxServer server(
      {"--contribuinte", kIe + ":" + kKey + ":11222333000181:S", "--falha", "dividir", "--data-servidor", kDate});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QTemporaryDir dir;
  const QByteArray db = workingDatabase(dir.filePath("zide.mdb"), 31, 6, QDate(2025, 4, 1));
  // Six protocol lines: half of the body lies well past the first one, the cut still comes before it.
  const Arrivals zide = uploadTo(
      server.port(), "/client_zide/xt_upload.php?contador=1&chave=" + kKey + "&gias=31,32,33,34,35,36", db, "ZIDE.GDB");
  QVERIFY2(zide.complete, qPrintable(server.log()));
  QCOMPARE(zide.chunks.size(), 2);
  QVERIFY(zide.chunks[0].contains("ARQUIVO RECEBIDO"));
  QVERIFY(!zide.chunks[0].contains("PROTOCOLO="));
  QVERIFY(zide.chunks[1].startsWith("PROTOCOLO=2025000001;REFERENCIA=04/2025;STATUS=1"));
  QVERIFY(zide.chunks[1].contains("PROTOCOLO=2025000006;REFERENCIA=09/2025;STATUS=1"));
  // A Simples PDF that passes: recorded, its protocol only in the second part.
  const Arrivals simples = uploadTo(server.port(), "/client/xt_upload_simples.php?contador=1&chave=" + kKey + "&gias=",
                                    pdfWith("Declaracao 10/2025"), "decl.pdf");
  QCOMPARE(simples.chunks.size(), 2);
  QVERIFY(simples.chunks[1].contains("PROTOCOLO=2025000007;REFERENCIA=10/2025;STATUS=1"));
  const auto rows = server.rows("SELECT referencia, tipo FROM transmissao ORDER BY id");
  QCOMPARE(rows.size(), 7);
  QCOMPARE(rows[0].value("referencia").toString(), QStringLiteral("04/2025"));
  QCOMPARE(rows[6].value("tipo").toString(), QStringLiteral("SIMPLES"));
  // Unscoped, SOAP answers come in two parts as well; the client's exchange still reads them whole.
  const QString list = call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}});
  QCOMPARE(at(list, 32, 50), kDate);
  QVERIFY2(list.contains("<referencia>04/2025</referencia>") && list.contains("<referencia>10/2025</referencia>"),
           qPrintable(list));
}

void TstSandboxSoap::transmissionKeepsTheSha1OfTheBytes() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  QTemporaryDir dir;
  const QByteArray db = workingDatabase(dir.filePath("zide.mdb"), 7, 2, QDate(2025, 1, 1));
  // Two references of one upload share the file, so they share its hash.
  QVERIFY(uploadTo(server.port(), "/client_zide/xt_upload.php?contador=1&chave=" + kKey + "&gias=7,8", db, "ZIDE.GDB")
              .complete);
  // Bytes every text reading would alter: NUL, CR LF, high bytes.
  const QByteArray pdf = pdfWith(QByteArray("bin") + '\0' + "\r\n\xe7\xff 05/2025");
  QVERIFY(uploadTo(server.port(), "/client/xt_upload_simples.php?contador=1&chave=" + kKey + "&gias=", pdf, "d.pdf")
              .complete);
  QVERIFY(uploadTo(server.port(),
                   "/client/xt_upload_simples.php?contador=1&chave=" + kKey + "&gias=", pdfWith("RECIBO"), "r.pdf")
              .complete);
  const auto rows = server.rows("SELECT gia, tipo, tamanho, sha1 FROM transmissao ORDER BY id");
  QCOMPARE(rows.size(), 3);
  QCOMPARE(rows[0].value("sha1").toString(), sha1(db));
  QCOMPARE(rows[1].value("sha1").toString(), sha1(db));
  QCOMPARE(rows[0].value("tamanho").toLongLong(), db.size());
  QCOMPARE(rows[2].value("sha1").toString(), sha1(pdf));
  QVERIFY(sha1(pdf) != sha1(pdfWith("bin")));
}

void TstSandboxSoap::zideUploadMustBeTheKeysAccessDeclaration_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("key");
  QTest::addColumn<QString>("gias");
  QTest::addColumn<QString>("refusal");
  QTest::newRow("accepted")          << "access"  << kKey       << "7,8" << "";
  QTest::newRow("SQLite file")       << "sqlite"  << kKey       << "7"   << "o arquivo enviado não é um banco de dados Access";
  QTest::newRow("cut short")         << "short"   << kKey       << "7"   << "o arquivo enviado não é um banco de dados Access";
  QTest::newRow("other password")    << "senha"   << kKey       << "7"   << "a senha do banco de dados não é a da declaração";
  QTest::newRow("reference missing") << "access"  << kKey       << "7,9" << "a referência 9 não existe na tabela TAB03003";
  QTest::newRow("other company key") << "access"  << "OUTRA123" << "7"   << "a referência 7 não é da empresa da chave informada";
  QTest::newRow("block of another")  << "misto"   << kKey       << "7,8" << "a referência 8 não é da empresa da chave informada";
  // clang-format on
}

void TstSandboxSoap::zideUploadMustBeTheKeysAccessDeclaration() {
  QFETCH(QString, file);
  QFETCH(QString, key);
  QFETCH(QString, gias);
  QFETCH(QString, refusal);
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181", "--contribuinte",
                        "0099999990099:OUTRA123:11444777000161"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  QTemporaryDir dir;
  const QString path = dir.filePath("zide.mdb");
  QByteArray content;
  if (file == "access") {
    content = workingDatabase(path, 7, 2, QDate(2025, 1, 1));
  } else if (file == "senha") {
    content = writeAccessDeclaration(path, {{1, kIe}}, {{7, 1, QDate(2025, 1, 1)}}, "outra");
  } else if (file == "short") {
    content = workingDatabase(path, 7, 2, QDate(2025, 1, 1)).left(4000);
  } else if (file == "misto") {
    // Reference 8 belongs to another company's block of the same declaration.
    content = writeAccessDeclaration(path, {{1, kIe}, {2, "0099999990099"}},
                                     {{7, 1, QDate(2025, 1, 1)}, {8, 2, QDate(2025, 1, 1)}});
  } else {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sq");
    db.setDatabaseName(dir.filePath("zide.db"));
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec("CREATE TABLE TAB03003 (ID_03003 INTEGER, ID_03002 INTEGER, INICIO TEXT)"));
    QVERIFY(q.exec("INSERT INTO TAB03003 VALUES (7, 1, '2025-01-01')"));
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("sq");
    QFile f(dir.filePath("zide.db"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    content = f.readAll();
  }
  const Arrivals a = uploadTo(server.port(), "/client_zide/xt_upload.php?contador=1&chave=" + key + "&gias=" + gias,
                              content, "ZIDE.GDB");
  QVERIFY2(a.complete, qPrintable(server.log()));
  const QString answer = fromCp1252(a.answer);
  const auto recorded = server.rows("SELECT gia, referencia, status FROM transmissao ORDER BY id");
  const auto counts = server.rows("SELECT tabela, linhas FROM arquivo_tabela ORDER BY tabela");
  if (!refusal.isEmpty()) {
    QVERIFY2(answer.contains("ARQUIVO INVALIDO - " + refusal), qPrintable(answer));
    QVERIFY(recorded.isEmpty());
    QVERIFY(counts.isEmpty());
    return;
  }
  QVERIFY2(!answer.contains("ARQUIVO INVALIDO"), qPrintable(answer));
  QCOMPARE(recorded.size(), 2);
  QCOMPARE(recorded[1].value("referencia").toString(), QString("02/2025"));
  QCOMPARE(recorded[1].value("status").toInt(), 1);
  // The row count of every table of the file, by the file's hash.
  QCOMPARE(counts.size(), 2);
  QCOMPARE(counts[0].value("tabela").toString(), QString("TAB03002"));
  QCOMPARE(counts[0].value("linhas").toInt(), 1);
  QCOMPARE(counts[1].value("linhas").toInt(), 2);
  QCOMPARE(server.rows("SELECT DISTINCT sha1 FROM arquivo_tabela").value(0).value("sha1").toString(), sha1(content));
}

void TstSandboxSoap::dataFileWithoutSha1GetsTheColumn() {
  TestAppFolder app;
  QTemporaryDir dir;
  const QString file = dir.filePath("antigo.db");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
    db.setDatabaseName(file);
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(
        q.exec("CREATE TABLE transmissao (id INTEGER PRIMARY KEY AUTOINCREMENT, protocolo TEXT UNIQUE, "
               "ie TEXT NOT NULL, referencia TEXT NOT NULL, data TEXT NOT NULL, status INTEGER NOT NULL, "
               "adicionado TEXT NOT NULL, tipo TEXT NOT NULL, contador TEXT NOT NULL, gia TEXT NOT NULL DEFAULT '', "
               "arquivo TEXT NOT NULL, tamanho INTEGER NOT NULL, mensagem TEXT NOT NULL DEFAULT '')"));
    QVERIFY(q.exec("INSERT INTO transmissao VALUES (1, '2024000001', '" + kIe +
                   "', '12/2024', '02/01/2025 10:00:00', 1, '0,00', 'SIMPLES', '1', '', 'velho.pdf', 10, '')"));
    db.close();
  }
  QSqlDatabase::removeDatabase("old");
  SandboxServer server({"--contribuinte", kIe + ":" + kKey + ":11222333000181:S"}, file);
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  const QByteArray pdf = pdfWith("Declaracao 11/2025");
  QVERIFY(uploadTo(server.port(), "/client/xt_upload_simples.php?contador=1&chave=" + kKey + "&gias=", pdf, "novo.pdf")
              .complete);
  const auto rows = server.rows("SELECT arquivo, sha1 FROM transmissao ORDER BY id");
  QCOMPARE(rows.size(), 2);
  QCOMPARE(rows[0].value("arquivo").toString(), QStringLiteral("velho.pdf"));
  QCOMPARE(rows[0].value("sha1").toString(), QString(""));
  QCOMPARE(rows[1].value("sha1").toString(), sha1(pdf));
  // The list still carries the old transmission.
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QVERIFY(call("Transferencia.ver2", {{"strNome", kIe}, {"strDiretorioDestino", "vbs"}, {"Chave", kKey}})
              .contains("<referencia>12/2024</referencia>"));
}

QTEST_MAIN(TstSandboxSoap)
#include "tst_sandbox_soap.moc"
