#include <QtTest>

#include "net/enc64.h"
#include "net/soap.h"
#include "support/cannedserver.h"
#include "support/testenv.h"

class TstSoap : public QObject {
  Q_OBJECT
 private slots:
  void envelopeBytes_data();
  void envelopeBytes();
  void valuesEscapedOnly();
  void getResult_data();
  void getResult();
  void getResultNeverFetchesEntities();
  void exchangeHeadersAndBody();
  void exchangeKeepsBodyOfErrorStatus();
  void exchangeReadsSettingsEachCall();
  void exchangeStartedWhileAnotherWaits();
  void exchangeFailsWithoutServer();
  void exchangeFailsWithoutHost();
  void myDecodeRfcVectors_data();
  void myDecodeRfcVectors();
  void myDecodeQuirks();
};

static const QString kStart = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap12:Envelope "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"> <soap12:Body>");
static const QString kEnd = QStringLiteral("</soap12:Body></soap12:Envelope>");

void TstSoap::envelopeBytes_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("operation");
  QTest::addColumn<QList<SoapParam>>("params");
  QTest::addColumn<QString>("expected");
  QTest::newRow("ver2") << "Transferencia.ver2"
                        << QList<SoapParam>{{"strNome", "0012345670089"}, {"strDiretorioDestino", "vbs"}, {"Chave", "AB12CD34"}}
                        << kStart + "<Transferencia.ver2 xmlns=\"\"><strNome>0012345670089</strNome>"
                                    "<strDiretorioDestino>vbs</strDiretorioDestino><Chave>AB12CD34</Chave>"
                                    "</Transferencia.ver2>" + kEnd;
  QTest::newRow("ver") << "Transferencia.ver"
                       << QList<SoapParam>{{"strNome", "2025000001"}, {"strDiretorioDestino", "vbs"}, {"Chave", "K"}}
                       << kStart + "<Transferencia.ver xmlns=\"\"><strNome>2025000001</strNome>"
                                   "<strDiretorioDestino>vbs</strDiretorioDestino><Chave>K</Chave></Transferencia.ver>" + kEnd;
  QTest::newRow("ecnpj") << "Transferencia.ecnpj"
                         << QList<SoapParam>{{"ie", "0012345670089"}, {"cnpj", "11.222.333/0001-81"}, {"key", "!QORTENBAL!"}}
                         << kStart + "<Transferencia.ecnpj xmlns=\"\"><ie>0012345670089</ie><cnpj>11.222.333/0001-81</cnpj>"
                                     "<key>!QORTENBAL!</key></Transferencia.ecnpj>" + kEnd;
  QList<SoapParam> contador;
  QString expected = kStart + "<Transferencia.contador xmlns=\"\">";
  const QStringList names = {"thisCont_cpf_cnpj",     "thisCont_num_crc",     "thisCont_razao_nome",
                             "thisCont_nom_endereco", "thisCont_num_endereco", "thisCont_complemento",
                             "thisCont_nom_bairro",   "thisCont_nom_cidade",   "thisCont_nom_estado",
                             "thisCont_num_telefone", "thisCont_num_cep",      "thisCont_email"};
  for (int i = 0; i < names.size(); ++i) {
    const QString v = i == 5 ? QString() : QStringLiteral("v%1 D''Ávila ").arg(i);
    contador.append({names[i], v});
    expected += "<" + names[i] + ">" + v + "</" + names[i] + ">";
  }
  QTest::newRow("contador, empty value never self-closing")
      << "Transferencia.contador" << contador << expected + "</Transferencia.contador>" + kEnd;
  // clang-format on
}

void TstSoap::envelopeBytes() {
  QFETCH(QString, operation);
  QFETCH(QList<SoapParam>, params);
  QFETCH(QString, expected);
  QCOMPARE(BuildSoapBody(operation, params), expected);
  QVERIFY(!expected.contains('\n'));
  QVERIFY(!expected.contains("/>"));
}

void TstSoap::valuesEscapedOnly() {
  // "&", "<" and ">" become entities; blanks, quotes and apostrophes stay as given.
  QCOMPARE(GenerateSoapParameter("a", " x < & \"y\" > '' "), QStringLiteral("<a> x &lt; &amp; \"y\" &gt; '' </a>"));
  QCOMPARE(GenerateSoapParameter("a", ""), QStringLiteral("<a></a>"));
  QCOMPARE(GenerateSoapFunctionCallStart("Op"), QStringLiteral("<Op xmlns=\"\">"));
  QCOMPARE(GenerateSoapFunctionCallEnd("Op"), QStringLiteral("</Op>"));
  QVERIFY(GenerateSoapBodyStart().endsWith("soap-envelope\"> <soap12:Body>"));
}

void TstSoap::getResult_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("response");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<QString>("result");
  const QString head = "<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>";
  const QString tail = "</e:Body></e:Envelope>";
  QTest::newRow("escaped document") << head + "<n:R xmlns:n=\"urn:x\"><return>&lt;a x=&quot;1&quot;&gt;b &amp; c&lt;/a&gt;</return></n:R>" + tail
                                    << true << "<a x=\"1\">b & c</a>";
  QTest::newRow("empty return") << head + "<R><return/></R>" + tail << true << "";
  QTest::newRow("empty return, open and close") << head + "<R><return></return></R>" + tail << true << "";
  QTest::newRow("no return") << head + "<R><other>x</other></R>" + tail << false << "";
  QTest::newRow("return too shallow") << head + "<return>x</return>" + tail << false << "";
  QTest::newRow("return too deep") << head + "<R><w><return>x</return></w></R>" + tail << false << "";
  QTest::newRow("two response elements") << head + "<R1><x/><return>first</return></R1><R2><return>second</return></R2>" + tail
                                         << true << "first";
  QTest::newRow("descendant text joined") << head + "<R><return>a<b>c</b>d<![CDATA[<e>]]></return></R>" + tail << true << "acd<e>";
  QTest::newRow("prefixed return is not it") << head + "<R xmlns:p=\"urn:p\"><p:return>x</p:return></R>" + tail << false << "";
  QTest::newRow("malformed") << head + "<R><return>x</return></R>" << false << "";
  QTest::newRow("malformed after the match") << head + "<R><return>x</return></R>" + tail + "<junk>" << false << "";
  QTest::newRow("not xml") << "CHAVE_INVALIDA" << false << "";
  QTest::newRow("empty") << "" << false << "";
  QTest::newRow("accents and blanks kept") << head + "<R><return>  São José  </return></R>" + tail << true << "  São José  ";
  // clang-format on
}

void TstSoap::getResult() {
  QFETCH(QString, response);
  QFETCH(bool, ok);
  QFETCH(QString, result);
  QString out = "stale";
  QCOMPARE(GetResult(response, "return", &out), ok);
  QCOMPARE(out, result);
}

void TstSoap::getResultNeverFetchesEntities() {
  // An external entity names a local file; it must not end up in the result, nor may the
  // document be accepted as if the entity were empty.
  TestAppFolder app;
  app.write("secret.txt", "SEGREDO");
  const QString doc = "<?xml version=\"1.0\"?><!DOCTYPE E [<!ENTITY s SYSTEM \"file://" + app.file("secret.txt") +
                      "\">]><E><B><R><return>&s;</return></R></B></E>";
  QString out;
  QVERIFY(!GetResult(doc, "return", &out));
  QVERIFY(!out.contains("SEGREDO"));
  const QString bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE E [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
      "<E><B><R><return>&b;</return></R></B></E>";
  QVERIFY(!GetResult(bomb, "return", &out));
}

void TstSoap::exchangeHeadersAndBody() {
  TestAppFolder app;
  CannedServer server;
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  server.answer(CannedServer::envelope("Transferencia.ver2", "<listaTransferencias/>"));
  QString response;
  QVERIFY(SendSoapRequest("Transferencia.ver2", {{"strNome", "Ação"}, {"strDiretorioDestino", "vbs"}, {"Chave", "k"}},
                          &response));
  QCOMPARE(server.requests.size(), 1);
  const auto& req = server.requests.first();
  QVERIFY2(req.head.startsWith("POST /ovu/server/index_zide.php?wsdl HTTP/1."), req.head.constData());
  QVERIFY(req.head.contains("\r\nContent-Type: text/xml\r\n"));
  QVERIFY(req.head.contains("\r\nSOAPAction: Transferencia.ver2\r\n"));
  QCOMPARE(req.body,
           BuildSoapBody("Transferencia.ver2", {{"strNome", "Ação"}, {"strDiretorioDestino", "vbs"}, {"Chave", "k"}})
               .toUtf8());
  QString result;
  QVERIFY(GetResult(response, "return", &result));
  QCOMPARE(result, QStringLiteral("<listaTransferencias/>"));
}

void TstSoap::exchangeKeepsBodyOfErrorStatus() {
  TestAppFolder app;
  QTcpServer server;
  QVERIFY(server.listen(QHostAddress::LocalHost));
  connect(&server, &QTcpServer::newConnection, this, [&] {
    QTcpSocket* s = server.nextPendingConnection();
    connect(s, &QTcpSocket::readyRead, s, [s] {
      s->readAll();
      s->write(
          "HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n<h1>Erro n\xe3o "
          "esperado</h1>");
      s->disconnectFromHost();
    });
  });
  app.writeSettings("127.0.0.1", QString::number(server.serverPort()));
  QString response;
  QVERIFY(SendSoapRequest("Transferencia.ver2", {}, &response));
  QCOMPARE(response, QStringLiteral("<h1>Erro não esperado</h1>"));
  QString result = "x";
  QVERIFY(!GetResult(response, "return", &result));
  QCOMPARE(result, QString());
}

void TstSoap::exchangeReadsSettingsEachCall() {
  TestAppFolder app;
  CannedServer a, b;
  a.answer("A");
  b.answer("B");
  QString response;
  app.writeSettings("127.0.0.1", QString::number(a.port()));
  QVERIFY(SendSoapRequest("Op", {}, &response));
  QCOMPARE(response, QStringLiteral("A"));
  app.writeSettings("127.0.0.1", QString::number(b.port()));
  QVERIFY(SendSoapRequest("Op", {}, &response));
  QCOMPARE(response, QStringLiteral("B"));
  QCOMPARE(a.requests.size(), 1);
  QCOMPARE(b.requests.size(), 1);
}

// A window's timer may start an exchange while another one is waited for: each gets its own answer,
// and the quick one is not held up behind the slow one.
void TstSoap::exchangeStartedWhileAnotherWaits() {
  TestAppFolder app;
  CannedServer server;
  server.handler = [](QTcpSocket* s, const CannedServer::Request& r) {
    const QByteArray op = r.body.contains("<Lenta ") ? "Lenta" : "Rapida";
    const QByteArray answer = CannedServer::response("200 OK", CannedServer::envelope(op, op));
    QTimer::singleShot(op == "Lenta" ? 400 : 0, s, [s, answer] {
      s->write(answer);
      s->disconnectFromHost();
    });
  };
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  QStringList finished;
  QString inner;
  QTimer::singleShot(100, this, [&] {
    QVERIFY(SendSoapRequest("Rapida", {}, &inner));
    finished << "Rapida";
  });
  QString outer;
  QVERIFY(SendSoapRequest("Lenta", {}, &outer));
  finished << "Lenta";
  QCOMPARE(finished, QStringList({"Rapida", "Lenta"}));
  QString result;
  QVERIFY(GetResult(outer, "return", &result));
  QCOMPARE(result, QStringLiteral("Lenta"));
  QVERIFY(GetResult(inner, "return", &result));
  QCOMPARE(result, QStringLiteral("Rapida"));
}

void TstSoap::exchangeFailsWithoutServer() {
  TestAppFolder app;
  quint16 port;
  {
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    port = probe.serverPort();
  }
  app.writeSettings("127.0.0.1", QString::number(port));
  QString response = "stale";
  QVERIFY(!SendSoapRequest("Op", {}, &response));
  QCOMPARE(response, QString());
  QVERIFY(!LastSoapError().isEmpty());
}

void TstSoap::exchangeFailsWithoutHost() {
  TestAppFolder app;
  QString response;
  QVERIFY(!SendSoapRequest("Op", {}, &response));  // no settings file at all
  app.writeSettings("", "80");
  QVERIFY(!SendSoapRequest("Op", {}, &response));
}

void TstSoap::myDecodeRfcVectors_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("in");
  QTest::addColumn<QByteArray>("out");
  QTest::newRow("f") << "Zg==" << QByteArray("f");
  QTest::newRow("fo") << "Zm8=" << QByteArray("fo");
  QTest::newRow("foo") << "Zm9v" << QByteArray("foo");
  QTest::newRow("foob") << "Zm9vYg==" << QByteArray("foob");
  QTest::newRow("fooba") << "Zm9vYmE=" << QByteArray("fooba");
  QTest::newRow("foobar") << "Zm9vYmFy" << QByteArray("foobar");
  QByteArray all;
  for (int i = 0; i < 256; ++i) all.append(char(i));
  QTest::newRow("all bytes") << QString::fromLatin1(all.toBase64()) << all;
  QTest::newRow("lines") << QString::fromLatin1(all.toBase64()).insert(76, "\r\n").insert(20, "\n").append("\r\n") << all;
  // clang-format on
}

void TstSoap::myDecodeRfcVectors() {
  QFETCH(QString, in);
  QFETCH(QByteArray, out);
  QString copy = in;
  QCOMPARE(MyDecodeBytes(copy), out);
  QVERIFY(!copy.contains('\r') && !copy.contains('\n'));
  copy = in;
  const QString text = MyDecode(copy);
  QCOMPARE(text.size(), out.size());
  for (int i = 0; i < out.size(); ++i)
    if (uchar(out[i]) < 128) QCOMPARE(text[i].unicode(), ushort(uchar(out[i])));
}

void TstSoap::myDecodeQuirks() {
  // "=" in the third place of a group still yields three bytes, and one is dropped at the end.
  QString s = "Zm=v";
  QCOMPARE(MyDecodeBytes(s), QByteArray("f`"));  // "f`/" less the one fill character
  // Strangers decode as 0; other blanks stay and count.
  s = "Zm9v Zg=";
  QCOMPARE(MyDecodeBytes(s).size(), 5);
  s = "????";
  QCOMPARE(MyDecodeBytes(s), QByteArray(3, '\0'));
  // Length not a multiple of four, or nothing at all.
  for (QString bad : {QStringLiteral("Zm9vY"), QStringLiteral(""), QStringLiteral("\r\n")}) {
    try {
      MyDecode(bad);
      QFAIL("no error raised");
    } catch (const Base64Error& e) {
      QCOMPARE(e.number(), -2147221504L);
      QCOMPARE(e.source(), QStringLiteral("MyDecode"));
      QCOMPARE(e.description(), QStringLiteral("Input string is not valid Base64."));
    }
  }
  // "==" anywhere drops two characters, even mid-text.
  s = "Zm==Zm9v";
  QCOMPARE(MyDecodeBytes(s).size(), 4);
}

QTEST_MAIN(TstSoap)
#include "tst_soap.moc"
