// The rules the SOAP exchange and the upload share (address, proxy choice), the escaping of request
// values, and the readers of the server's answers (dates, markers, replies, declarations refused).
#include <QtTest>

#include "base/settings.h"
#include "net/proxy.h"
#include "net/soap.h"
#include "net/upload.h"
#include "registry/accesskey.h"
#include "support/cannedserver.h"
#include "support/testenv.h"
#include "transmission/refresh.h"
#include "transmission/transmissions.h"

namespace {
const QString kHead =
    QStringLiteral("<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>");
const QString kTail = QStringLiteral("</e:Body></e:Envelope>");
const QString kBomb =
    QStringLiteral("<!DOCTYPE d [<!ENTITY a \"xxxxxxxxxx\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>");
}  // namespace

class TstNetReaders : public QObject {
  Q_OBJECT
 private slots:
  void portTable_data();
  void portTable();
  void hostRule();
  void proxyRule_data();
  void proxyRule();
  void valuesEscaped_data();
  void valuesEscaped();
  void serverDateForms_data();
  void serverDateForms();
  void invalidKeyTrimsBlanksOnly_data();
  void invalidKeyTrimsBlanksOnly();
  void soapReplyKinds_data();
  void soapReplyKinds();
  void declarationsRefusedEverywhere();
};

void TstNetReaders::portTable_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("setting");
  QTest::addColumn<int>("port");  // 0: refused by both
  QTest::newRow("empty")               << ""        << 0;
  QTest::newRow("one digit")           << "8"       << 0;     // read as empty
  QTest::newRow("two digits")          << "81"      << 81;
  QTest::newRow("blanks around")       << "  8080 " << 8080;
  QTest::newRow("leading zeros")       << "0080"    << 80;
  QTest::newRow("zero")                << "00"      << 0;
  QTest::newRow("not a number")        << "8o80"    << 0;
  QTest::newRow("sign")                << "+80"     << 0;
  QTest::newRow("inner blank")         << "80 80"   << 0;
  QTest::newRow("above 32767")         << "40000"   << 40000;
  QTest::newRow("largest")             << "65535"   << 65535;
  QTest::newRow("above 65535")         << "65536"   << 0;
  QTest::newRow("huge")                << "99999999999" << 0;
  // clang-format on
}

// One rule for both: the SOAP address and the upload's port agree on every setting.
void TstNetReaders::portTable() {
  QFETCH(QString, setting);
  QFETCH(int, port);
  TestAppFolder app;
  app.writeSettings(QStringLiteral("127.0.0.1"), setting);
  QString soapError, uploadError;
  const auto server = ConfiguredServer(&soapError);
  // The upload window's address: the port setting between the host and a blank.
  const QString url = QStringLiteral("http://127.0.0.1:") + ReadSetting("servidor", "port") + QStringLiteral(" /a?b");
  const auto target = ResolveUploadTarget(SplitUrl(url), &uploadError);
  if (port == 0) {
    QVERIFY(!server);
    QVERIFY(!target);
    QCOMPARE(soapError, QStringLiteral("Invalid Port"));
    QCOMPARE(uploadError, QStringLiteral("Invalid Port"));
    QString response;
    QVERIFY(!SendSoapRequest(QStringLiteral("Op"), {}, &response));
    QVERIFY(LastSoapError().endsWith(QStringLiteral("Invalid Port")));
  } else {
    QVERIFY(server && target);
    QCOMPARE(server->port, port);
    QCOMPARE(int(target->port), port);
  }
}

void TstNetReaders::hostRule() {
  TestAppFolder app;
  for (const QString& bad :
       {QString(), QStringLiteral("a b"), QStringLiteral("u@h"), QStringLiteral("h?q"), QStringLiteral("h#f")}) {
    app.writeSettings(bad, QStringLiteral("80"));
    QString error;
    QVERIFY2(!ConfiguredServer(&error), qPrintable(bad));
    QCOMPARE(error, QStringLiteral("Invalid Host"));
    QVERIFY(!ResolveUploadTarget(SplitUrl(QStringLiteral("http://") + bad + QStringLiteral(":80 /a")), &error));
    QCOMPARE(error, QStringLiteral("Invalid Host"));
  }
  for (const QString& good : {QStringLiteral("127.0.0.1"), QStringLiteral("zide.tavarel.mg.gov.br")}) {
    app.writeSettings(good, QStringLiteral("80"));
    QString error;
    QVERIFY(ConfiguredServer(&error));
  }
  // protocolo: http by default, https on request, anything else refused.
  app.write(QStringLiteral("diziz.ini"), "[servidor]\r\nhost=h.br\r\nport=443\r\nprotocolo=HTTPS\r\n");
  QString error;
  QCOMPARE(ConfiguredServer(&error)->scheme, QStringLiteral("https"));
  app.write(QStringLiteral("diziz.ini"), "[servidor]\r\nhost=h.br\r\nport=80\r\nprotocolo=ftp\r\n");
  QVERIFY(!ConfiguredServer(&error));
  QCOMPARE(error, QStringLiteral("Invalid Protocol"));
  QVERIFY(!ResolveUploadTarget(SplitUrl(QStringLiteral("ftp://h.br:80 /a")), &error));
  QCOMPARE(error, QStringLiteral("Invalid Protocol"));
}

void TstNetReaders::proxyRule_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("key");        // the proxy key of diziz.ini
  QTest::addColumn<QString>("httpProxy");  // the environment's
  QTest::addColumn<QString>("noProxy");
  QTest::addColumn<QString>("scheme");
  QTest::addColumn<QString>("expected");   // host:port, "" for none, "!" for an error
  QTest::newRow("nothing")                 << ""                << ""                       << ""                  << "http"  << "";
  QTest::newRow("environment")             << ""                << "http://px.local:3128"   << ""                  << "http"  << "px.local:3128";
  QTest::newRow("environment, no scheme")  << ""                << "px.local:8080/"         << ""                  << "http"  << "px.local:8080";
  QTest::newRow("default port")            << ""                << "px.local"               << ""                  << "http"  << "px.local:1080";
  QTest::newRow("http_proxy not for https")<< ""                << "px.local:3128"          << ""                  << "https" << "";
  QTest::newRow("key wins")                << "k.local:9"       << "px.local:3128"          << ""                  << "http"  << "k.local:9";
  QTest::newRow("key for https too")       << "k.local:99"      << ""                       << ""                  << "https" << "k.local:99";
  QTest::newRow("key nenhum")              << "nenhum"          << "px.local:3128"          << ""                  << "http"  << "";
  QTest::newRow("no_proxy exact")          << ""                << "px.local:3128"          << "h.tavarel.br"      << "http"  << "";
  QTest::newRow("no_proxy domain")         << ""                << "px.local:3128"          << ".tavarel.br"       << "http"  << "";
  QTest::newRow("no_proxy bare domain")    << ""                << "px.local:3128"          << "x.br, tavarel.br"  << "http"  << "";
  QTest::newRow("no_proxy other")          << ""                << "px.local:3128"          << "avarel.br"         << "http"  << "px.local:3128";
  QTest::newRow("no_proxy with port")      << ""                << "px.local:3128"          << "h.tavarel.br:80"   << "http"  << "";
  QTest::newRow("no_proxy covers the key") << "k.local:9"       << ""                       << "*"                 << "http"  << "";
  QTest::newRow("socks refused")           << "socks5://k:1080" << ""                       << ""                  << "http"  << "!";
  QTest::newRow("bad port refused")        << "k.local:99999"   << ""                       << ""                  << "http"  << "!";
  // clang-format on
}

void TstNetReaders::proxyRule() {
  QFETCH(QString, key);
  QFETCH(QString, httpProxy);
  QFETCH(QString, noProxy);
  QFETCH(QString, scheme);
  QFETCH(QString, expected);
  TestAppFolder app;
  app.write(QStringLiteral("diziz.ini"), "[servidor]\r\nhost=h.tavarel.br\r\nport=80\r\n" +
                                             (key.isEmpty() ? QByteArray() : "proxy=" + key.toUtf8()));
  for (const char* v : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "NO_PROXY"}) qunsetenv(v);
  qputenv("http_proxy", httpProxy.toUtf8());
  qputenv("no_proxy", noProxy.toUtf8());
  QString error;
  const auto route = ProxyFor(scheme, QStringLiteral("h.tavarel.br"), &error);
  qunsetenv("http_proxy");
  qunsetenv("no_proxy");
  if (expected == QLatin1String("!")) {
    QVERIFY(!route);
    QVERIFY(error.startsWith(QStringLiteral("Proxy inválido: ")));
    return;
  }
  QVERIFY2(route, qPrintable(error));
  QCOMPARE(route->direct() ? QString() : route->host + QLatin1Char(':') + QString::number(route->port), expected);
}

void TstNetReaders::valuesEscaped_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("sent");
  QTest::newRow("digits unchanged")   << "0012345670089"                   << "0012345670089";
  QTest::newRow("masked CNPJ")        << "11.222.333/0001-81"              << "11.222.333/0001-81";
  QTest::newRow("ampersand")          << "Silva & Souza"                   << "Silva &amp; Souza";
  QTest::newRow("markup")             << "</ie><key>x</key><ie>"           << "&lt;/ie&gt;&lt;key&gt;x&lt;/key&gt;&lt;ie&gt;";
  QTest::newRow("entity kept as text")<< "&amp;"                           << "&amp;amp;";
  QTest::newRow("apostrophes as given") << "D''Ávila \"x\""                << "D''Ávila \"x\"";
  QTest::newRow("empty")              << ""                                << "";
  // clang-format on
}

// Every value is text inside its element: the server reads back exactly what was given.
void TstNetReaders::valuesEscaped() {
  QFETCH(QString, value);
  QFETCH(QString, sent);
  QCOMPARE(GenerateSoapParameter(QStringLiteral("ie"), value), QStringLiteral("<ie>") + sent + QStringLiteral("</ie>"));
  TestAppFolder app;
  CannedServer server;
  server.answer(CannedServer::envelope(QStringLiteral("Transferencia.ecnpj"), QStringLiteral("x")));
  app.writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QString reply;
  QVERIFY(PedirChave(value, QStringLiteral("11.222.333/0001-81"), &reply));
  QCOMPARE(server.requests.size(), 1);
  QXmlStreamReader xml(server.requests[0].body);
  QStringList elements;
  QString ie;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    elements << xml.name().toString();
    if (xml.name() == QLatin1String("ie")) ie = xml.readElementText();
  }
  QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  QCOMPARE(elements, (QStringList{"Envelope", "Body", "Transferencia.ecnpj", "ie", "cnpj", "key"}));
  QCOMPARE(ie, value);
}

void TstNetReaders::serverDateForms_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("expected");  // yyyy-MM-dd HH:mm:ss, "" for a failure
  QTest::newRow("dd/MM/yyyy HH:mm:ss")  << "08/12/2026 14:05:09" << "2026-12-08 14:05:09";
  QTest::newRow("dd-MM-yyyy HH:mm:ss")  << "08-12-2026 14:05:09" << "2026-12-08 14:05:09";
  QTest::newRow("dd.MM.yyyy HH:mm:ss")  << "08.12.2026 14:05:09" << "2026-12-08 14:05:09";
  QTest::newRow("yyyy-MM-dd HH:mm:ss")  << "2026-12-08 14:05:09" << "2026-12-08 14:05:09";
  QTest::newRow("yyyy-MM-ddTHH:mm:ss")  << "2026-12-08T14:05:09" << "2026-12-08 14:05:09";
  QTest::newRow("yyyy/MM/dd HH:mm:ss")  << "2026/12/08 14:05:09" << "2026-12-08 14:05:09";
  QTest::newRow("dd/MM/yyyy HH:mm")     << "08/12/2026 14:05   " << "2026-12-08 14:05:00";
  QTest::newRow("dd-MM-yyyy HH:mm")     << "08-12-2026 14:05"    << "2026-12-08 14:05:00";
  QTest::newRow("dd.MM.yyyy HH:mm")     << "08.12.2026 14:05"    << "2026-12-08 14:05:00";
  QTest::newRow("yyyy-MM-dd HH:mm")     << "2026-12-08 14:05"    << "2026-12-08 14:05:00";
  QTest::newRow("yyyy-MM-ddTHH:mm")     << "2026-12-08T14:05   " << "2026-12-08 14:05:00";
  QTest::newRow("yyyy/MM/dd HH:mm")     << "2026/12/08 14:05"    << "2026-12-08 14:05:00";
  QTest::newRow("impossible day")       << "31/02/2026 14:05:09" << "";
  QTest::newRow("month first")          << "12/31/2026 14:05:09" << "";
  QTest::newRow("date alone")           << "08/12/2026"          << "";
  QTest::newRow("mixed separators")     << "08/12-2026 14:05:09" << "";
  QTest::newRow("text after")           << "08/12/2026 14:05</d" << "";
  QTest::newRow("empty")                << ""                    << "";
  // clang-format on
}

// The refresh and the key request read their date with the same reader.
void TstNetReaders::serverDateForms() {
  QFETCH(QString, text);
  QFETCH(QString, expected);
  const auto d = Transmissions::ParseServerDate(text);
  QCOMPARE(d ? d->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString(), expected);
  // The key request's reply holds it at positions 21-39.
  const QString keyResult = QString(20, QLatin1Char('.')) + text.leftJustified(19, QLatin1Char(' ')) +
                            QStringLiteral("...........S.........ABCD1234");
  const RespostaChave r =
      InterpretarRespostaChave(QString::fromUtf8(CannedServer::envelope("Transferencia.ecnpj", keyResult)));
  QCOMPARE(r.momento ? r.momento->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString(), expected);
  if (!expected.isEmpty()) QCOMPARE(r.chave, QStringLiteral("ABCD1234"));
}

void TstNetReaders::invalidKeyTrimsBlanksOnly_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("invalid");
  QTest::newRow("exact")           << "CHAVE_INVALIDA"        << true;
  QTest::newRow("blanks, lower")   << "   chave_invalida  "   << true;
  QTest::newRow("tab")             << "\tCHAVE_INVALIDA"      << false;
  QTest::newRow("line break")      << "CHAVE_INVALIDA\r\n"    << false;
  QTest::newRow("no-break space")  << "CHAVE_INVALIDA\u00a0"  << false;
  QTest::newRow("more after")      << "CHAVE_INVALIDAS"       << false;
  // clang-format on
}

void TstNetReaders::invalidKeyTrimsBlanksOnly() {
  QFETCH(QString, text);
  QFETCH(bool, invalid);
  QCOMPARE(Transmissions::IsInvalidKey(text), invalid);
}

void TstNetReaders::soapReplyKinds_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QString>("answer");
  QTest::addColumn<int>("kind");  // SoapReplyKind
  QTest::addColumn<QString>("reason");
  const int reply = int(SoapReplyKind::Reply), fault = int(SoapReplyKind::Fault), none = int(SoapReplyKind::NotAReply);
  const QString s11 = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
  QTest::newRow("with return")      << kHead + "<n:R xmlns:n=\"urn:z\"><return>OK</return></n:R>" + kTail << reply << "";
  QTest::newRow("empty response")   << kHead + "<n:R xmlns:n=\"urn:z\"/>" + kTail << reply << "";
  QTest::newRow("empty body")       << kHead + kTail << reply << "";
  QTest::newRow("namespaced result")<< kHead + "<n:R xmlns:n=\"urn:z\"><n:return>OK</n:return></n:R>" + kTail << reply << "";
  QTest::newRow("SOAP 1.1")         << s11 + "<R/></s:Body></s:Envelope>" << reply << "";
  QTest::newRow("fault 1.2")        << kHead + "<e:Fault><e:Code><e:Value>e:Receiver</e:Value></e:Code><e:Reason>"
                                       "<e:Text xml:lang=\"pt\">CPF já cadastrado</e:Text></e:Reason></e:Fault>" + kTail
                                    << fault << "CPF já cadastrado";
  QTest::newRow("fault 1.1")        << s11 + "<s:Fault><faultcode>s:Server</faultcode><faultstring>Banco fora do ar"
                                       "</faultstring></s:Fault></s:Body></s:Envelope>" << fault << "Banco fora do ar";
  QTest::newRow("fault, code only") << kHead + "<e:Fault><e:Code><e:Value>e:Sender</e:Value></e:Code></e:Fault>" + kTail
                                    << fault << "e:Sender";
  QTest::newRow("no body")          << "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"/>" << none << "";
  QTest::newRow("other namespace")  << "<e:Envelope xmlns:e=\"urn:x\"><e:Body/></e:Envelope>" << none << "";
  QTest::newRow("error page")       << "<html><body>502 Bad Gateway</body></html>" << none << "";
  QTest::newRow("garbage")          << "\x01\x02 CHAVE" << none << "";
  QTest::newRow("cut short")        << kHead + "<R>" << none << "";
  QTest::newRow("declarations")     << "<?xml version=\"1.0\"?>" + kBomb + kHead.mid(21) + "<R>&b;</R>" + kTail << none << "";
  // clang-format on
}

// The accountant's registration takes any SOAP reply, reports a fault's reason, refuses the rest.
void TstNetReaders::soapReplyKinds() {
  QFETCH(QString, answer);
  QFETCH(int, kind);
  QFETCH(QString, reason);
  QString why = QStringLiteral("stale");
  QCOMPARE(int(ReadSoapReply(answer, &why)), kind);
  QCOMPARE(why, reason);
}

// No reader of the program takes a document type declaration: the list and the details inside a
// result, the key reply, the accountant's reply, the envelope itself.
void TstNetReaders::declarationsRefusedEverywhere() {
  QFile f(testData(QStringLiteral("net/entidades_detalhes.xml")));
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QString details = QString::fromUtf8(f.readAll());
  QString reason;
  QVERIFY(!Transmissions::ParseDetails(details, &reason));
  QVERIFY2(reason.contains(QStringLiteral("DOCTYPE")), qPrintable(reason));
  // Even a harmless declaration: no answer of the server needs one.
  QVERIFY(!Transmissions::ParseDetails(QStringLiteral("<!DOCTYPE d><d><t/></d>"), &reason));
  QVERIFY(Transmissions::ParseDetails(QStringLiteral("<d><t><DETALHE>abc</DETALHE></t></d>"), &reason));

  const QString list = QStringLiteral(
      "<listaTransferencias><transferencia><referencia>&b;</referencia>"
      "</transferencia></listaTransferencias>");
  QVERIFY(!Transmissions::ParseList(kBomb + list));
  QVERIFY(!Transmissions::ParseList(QStringLiteral("<!DOCTYPE listaTransferencias><listaTransferencias/>")));
  QVERIFY(Transmissions::ParseList(QStringLiteral("<listaTransferencias/>")));

  // The list arrives escaped inside an ordinary envelope: the refresh fails instead of expanding it.
  TestAppFolder app;
  CannedServer server;
  server.answer(CannedServer::envelope(QStringLiteral("Transferencia.ver2"),
                                       kBomb + QStringLiteral("<listaTransferencias><d>       08/12/2026 10:20:30"
                                                              "</d></listaTransferencias>")));
  app.writeSettings(QStringLiteral("127.0.0.1"), QString::number(server.port()));
  QCOMPARE(Refresh::Fetch(QStringLiteral("0012345670089"), QStringLiteral("K")).status, Refresh::Status::Unavailable);

  // The key reply: its date and key are not read from a declared document.
  const QString keyReply = QStringLiteral("<?xml version=\"1.0\"?>") + kBomb + kHead.mid(21) +
                           QStringLiteral("<R><return>....................08/12/2026 14:05:09&b;</return></R>") + kTail;
  const RespostaChave r = InterpretarRespostaChave(keyReply);
  QVERIFY(!r.momento);
  QVERIFY(r.chave.isEmpty());
  QString result;
  QVERIFY(!GetResult(keyReply, QStringLiteral("return"), &result));
  QVERIFY(!GetResult(QStringLiteral("<!DOCTYPE e:Envelope>") + kHead + "<R><return>x</return></R>" + kTail,
                     QStringLiteral("return"), &result));
  QCOMPARE(ReadSoapReply(QStringLiteral("<!DOCTYPE e:Envelope>") + kHead + kTail, &reason), SoapReplyKind::NotAReply);
}

QTEST_MAIN(TstNetReaders)
#include "tst_netreaders.moc"
