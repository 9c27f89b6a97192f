#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Certificates made on the spot with OpenSSL, for the certificate and import tests.
struct TestCertSpec {
  QString commonName;  // ICP-Brasil style: "NAME:DOCUMENT DIGITS"
  QString issuerName = QStringLiteral("AC TESTE ZIDE");
  QDateTime notBefore = QDateTime::currentDateTimeUtc().addDays(-30);
  QDateTime notAfter = QDateTime::currentDateTimeUtc().addDays(365);
  QStringList cdpUrls = {};  // CRL distribution points; none when empty
  bool brokenCdp = false;    // an extension 2.5.29.31 whose contents do not decode
};

struct TestCert {
  QByteArray der;
  QByteArray certPem;
  QByteArray keyPem;
  QDateTime notBefore;  // as stored (whole seconds, UTC)
  QDateTime notAfter;
};

TestCert MakeTestCert(const TestCertSpec& spec);

// A PKCS#12 file of the certificate and its key: modern (AES/PBKDF2) or legacy (RC2-40 + 3DES).
QByteArray MakePkcs12(const TestCert& cert, const QString& password, bool legacy);

// The reply text of "Transferencia.ecnpj": the date at 21-39, the Simples flag at 51, the key at 61-68.
QString KeyReturnText(const QDateTime& moment, QChar simples, const QString& key);
