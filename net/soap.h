#pragma once
#include <QList>
#include <QString>

// SOAP 1.2 requests to the municipality's service.

QString GenerateSoapBodyStart();
QString GenerateSoapBodyEnd();
QString GenerateSoapFunctionCallStart(const QString& strFunction);
QString GenerateSoapFunctionCallEnd(const QString& strFunction);
QString GenerateSoapParameter(const QString& strParam, const QString& strValue);

struct SoapParam {
  QString name;
  QString value;
};

// The whole request body of one operation.
QString BuildSoapBody(const QString& operation, const QList<SoapParam>& params);

// Posts the operation to "http://" host ":" port "/ovu/server/index_zide.php?wsdl" with host and port
// read from the settings now. Blocks the caller (no user input reaches the windows meanwhile) until the
// whole answer is in. Returns false when the exchange itself failed (no connection, time-out);
// otherwise *responseText holds the body, whatever the HTTP status.
bool SendSoapRequest(const QString& operation, const QList<SoapParam>& params, QString* responseText);

// Text of the first element "/*/*/*/<resultParam>"; false (and empty text) when the answer is not
// well-formed or has no such element.
bool GetResult(const QString& responseText, const QString& resultParam, QString* result);

// The path of the service on the configured host.
inline constexpr char kSoapPath[] = "/ovu/server/index_zide.php?wsdl";

// How long an exchange may go without any progress before it counts as failed (default 60 s).
// Tests shorten it to try the silent server.
void SetSoapInactivityTimeoutMs(int ms);

// Why the last SendSoapRequest failed (transport text, for logs and tests); empty after a success.
QString LastSoapError();
