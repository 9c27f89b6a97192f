#include "net/soap.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>
#include <QXmlStreamReader>

#include "base/cp1252.h"
#include "base/settings.h"

QString GenerateSoapBodyStart() {
  return QStringLiteral(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<soap12:Envelope "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"> "
      "<soap12:Body>");
}

QString GenerateSoapBodyEnd() { return QStringLiteral("</soap12:Body></soap12:Envelope>"); }

QString GenerateSoapFunctionCallStart(const QString& strFunction) {
  return QLatin1Char('<') + strFunction + QStringLiteral(" xmlns=\"\">");
}

QString GenerateSoapFunctionCallEnd(const QString& strFunction) {
  return QStringLiteral("</") + strFunction + QLatin1Char('>');
}

// Values go in verbatim: the server expects exactly what the user typed.
QString GenerateSoapParameter(const QString& strParam, const QString& strValue) {
  return QLatin1Char('<') + strParam + QLatin1Char('>') + strValue + QStringLiteral("</") + strParam + QLatin1Char('>');
}

QString BuildSoapBody(const QString& operation, const QList<SoapParam>& params) {
  QString body = GenerateSoapBodyStart() + GenerateSoapFunctionCallStart(operation);
  for (const SoapParam& p : params) body += GenerateSoapParameter(p.name, p.value);
  return body + GenerateSoapFunctionCallEnd(operation) + GenerateSoapBodyEnd();
}

namespace {
int g_timeoutMs = 60000;
QString g_lastError;

// The answer's text: the charset the server names, else the XML declaration's, else UTF-8.
QString decodeBody(const QByteArray& body, const QByteArray& contentType) {
  QByteArray charset;
  static const QRegularExpression headerCharset(QStringLiteral("charset\\s*=\\s*\"?([A-Za-z0-9._:-]+)"),
                                                QRegularExpression::CaseInsensitiveOption);
  const auto m = headerCharset.match(QString::fromLatin1(contentType));
  if (m.hasMatch()) {
    charset = m.captured(1).toLatin1().toLower();
  } else if (body.startsWith("<?xml")) {
    static const QRegularExpression declCharset(
        QStringLiteral("^<\\?xml[^>]*encoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)"));
    const auto d = declCharset.match(QString::fromLatin1(body.left(200)));
    if (d.hasMatch()) charset = d.captured(1).toLatin1().toLower();
  }
  if (charset == "windows-1252" || charset == "cp1252") return fromCp1252(body);
  if (!charset.isEmpty() && charset != "utf-8" && charset != "utf8") {
    QStringDecoder dec(charset.constData());
    if (dec.isValid()) return dec.decode(body);
  }
  return QString::fromUtf8(body);
}

// Transport and protocol failures end the exchange; an HTTP error status with a body does not.
bool isTransportFailure(QNetworkReply::NetworkError e) {
  if (e == QNetworkReply::NoError) return false;
  const int code = static_cast<int>(e);
  const bool contentError = code >= 201 && code <= 299;  // 4xx answers
  const bool serverError = code >= 401 && code <= 499;   // 5xx answers
  return !(contentError || serverError);
}
}  // namespace

void SetSoapInactivityTimeoutMs(int ms) { g_timeoutMs = ms > 0 ? ms : 60000; }
QString LastSoapError() { return g_lastError; }

bool SendSoapRequest(const QString& operation, const QList<SoapParam>& params, QString* responseText) {
  if (responseText) responseText->clear();
  g_lastError.clear();
  const QByteArray body = BuildSoapBody(operation, params).toUtf8();

  const QString host = ReadSetting(QStringLiteral("servidor"), QStringLiteral("host"));
  const QString port = ReadSetting(QStringLiteral("servidor"), QStringLiteral("port"));
  const QUrl url(QStringLiteral("http://") + host + QLatin1Char(':') + port + QLatin1String(kSoapPath),
                 QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) {
    g_lastError = QStringLiteral("Endereço do servidor inválido: ") + url.errorString();
    return false;
  }

  QNetworkAccessManager manager;
  // One request, one connection: nothing is kept between exchanges.
  manager.setAutoDeleteReplies(false);
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml"));
  request.setRawHeader("SOAPAction", operation.toUtf8());
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

  QNetworkReply* reply = manager.post(request, body);
  QEventLoop loop;
  QTimer idle;
  idle.setSingleShot(true);
  idle.setInterval(g_timeoutMs);
  bool timedOut = false;
  QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    reply->abort();
  });
  // Any movement on the wire restarts the clock; only a stalled exchange times out.
  QObject::connect(reply, &QNetworkReply::uploadProgress, &idle, qOverload<>(&QTimer::start));
  QObject::connect(reply, &QNetworkReply::downloadProgress, &idle, qOverload<>(&QTimer::start));
  QObject::connect(reply, &QNetworkReply::metaDataChanged, &idle, qOverload<>(&QTimer::start));
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  idle.start();
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  idle.stop();

  const QNetworkReply::NetworkError err = reply->error();
  const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
  bool ok = true;
  if (timedOut) {
    g_lastError = QStringLiteral("Tempo esgotado sem resposta do servidor");
    ok = false;
  } else if (isTransportFailure(err) || !answered) {
    g_lastError = reply->errorString();
    ok = false;
  }
  if (ok && responseText)
    *responseText = decodeBody(reply->readAll(), reply->header(QNetworkRequest::ContentTypeHeader).toByteArray());
  delete reply;
  return ok;
}

// "/*/*/*/<resultParam>": any element on the first three levels, then the named element in no
// namespace. The whole document must be well-formed, as a DOM load would demand. Nothing outside
// the text is fetched: the stream reader never resolves external entities.
bool GetResult(const QString& responseText, const QString& resultParam, QString* result) {
  if (result) result->clear();
  QXmlStreamReader xml(responseText);
  int depth = 0;
  int capturingAt = 0;  // depth of the chosen element while its text is collected
  bool found = false;
  QString text;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement:
        ++depth;
        if (!found && depth == 4 && xml.name() == resultParam && xml.prefix().isEmpty() &&
            xml.namespaceUri().isEmpty()) {
          found = true;
          capturingAt = depth;
        }
        break;
      case QXmlStreamReader::EndElement:
        if (capturingAt && depth == capturingAt) capturingAt = 0;
        --depth;
        break;
      case QXmlStreamReader::Characters:
        if (capturingAt) text += xml.text();
        break;
      case QXmlStreamReader::EntityReference:
        // An entity the document never declared: a DOM load refuses that too.
        xml.raiseError(QStringLiteral("unresolved entity"));
        break;
      case QXmlStreamReader::DTD:
        // External subsets are never fetched; a document with its own declarations is not a SOAP answer.
        if (!xml.entityDeclarations().isEmpty()) xml.raiseError(QStringLiteral("entity declarations"));
        break;
      default: break;
    }
  }
  if (xml.hasError() || !found) return false;
  if (result) *result = text;
  return true;
}
