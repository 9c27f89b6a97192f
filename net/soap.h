#pragma once
#include <QList>
#include <QString>

// SOAP 1.2 requests to the municipality's service.

QString GenerateSoapBodyStart();
QString GenerateSoapBodyEnd();
QString GenerateSoapFunctionCallStart(const QString& strFunction);
QString GenerateSoapFunctionCallEnd(const QString& strFunction);
// "<strParam>" + the value with "&", "<" and ">" as entities + "</strParam>".
QString GenerateSoapParameter(const QString& strParam, const QString& strValue);
QString EscapeSoapValue(const QString& value);

struct SoapParam {
  QString name;
  QString value;
};

// The whole request body of one operation.
QString BuildSoapBody(const QString& operation, const QList<SoapParam>& params);

// Posts the operation to "http://" host ":" port "/ovu/server/index_zide.php?wsdl" (https when the
// settings ask for it) with host and port read from the settings now, through the proxy ProxyFor
// chooses. Blocks the caller (the windows repaint, no user input reaches them) until the whole
// answer is in. The request is sent once; redirects are followed (at most five). Returns false when
// the exchange itself failed (bad address, no connection, 30 s to connect, 60 s without progress,
// the overall deadline, an answer above kMaxAnswerBytes, a certificate not trusted); otherwise
// *responseText holds the body, whatever the HTTP status.
bool SendSoapRequest(const QString& operation, const QList<SoapParam>& params, QString* responseText);

// Text of the first element "/*/*/*/<resultParam>"; false (and empty text) when the answer is not
// well-formed, carries a document type declaration or has no such element.
bool GetResult(const QString& responseText, const QString& resultParam, QString* result);

// The path of the service on the configured host.
inline constexpr char kSoapPath[] = "/ovu/server/index_zide.php?wsdl";

// How long an exchange may go without any progress before it counts as failed (default 60 s).
// Tests shorten it to try the silent server.
void SetSoapInactivityTimeoutMs(int ms);

// The overall deadline of one exchange: 5 minutes, or ZIDE_SOAP_PRAZO_MS milliseconds.
qint64 SoapDeadlineMs();

// Why the last SendSoapRequest failed (transport text, for logs and tests); empty after a success.
QString LastSoapError();

// What a SOAP answer is, read as a whole: a well-formed envelope (SOAP 1.1 or 1.2) with a Body is a
// reply, one whose Body holds a Fault is a refusal (its reason text in *faultReason), anything else
// (an error page, garbage, a document type declaration) is no reply.
enum class SoapReplyKind { Reply, Fault, NotAReply };
SoapReplyKind ReadSoapReply(const QString& responseText, QString* faultReason);
