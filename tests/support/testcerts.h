#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Certificates made on the spot with OpenSSL, for the certificate and import tests.
struct TestCertSpec {
  QString commonName;  // ICP-Brasil style: "NAME:DOCUMENT DIGITS"
  QString issuerName = QStringLiteral("AC TESTE ZIDE");
  QDateTime notBefore = QDateTime::currentDateTimeUtc().addDays(-30);
  QDateTime notAfter = QDateTime::currentDateTimeUtc().addDays(365);
  QStringList cdpUrls = {};     // CRL distribution points; none when empty
  bool brokenCdp = false;       // an extension 2.5.29.31 whose contents do not decode
  QString subjectAltName = {};  // in openssl's configuration syntax, e.g. "otherName:2.16.76.1.3.3;UTF8:..."
  bool ca = false;              // basic constraints CA:TRUE
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

// Runs a program to the end; false (and its output in *log) when it fails to start or exits non-zero.
bool RunTool(const QString& program, const QStringList& args, QString* log = nullptr);

// A SoftHSM2 token store in a folder: SOFTHSM2_CONF points at it while the object lives.
class SoftHsm {
 public:
  explicit SoftHsm(const QString& dir);
  ~SoftHsm();
  static QString module();  // Debian's SoftHSM2 PKCS#11 module
  // A new token with this label and user PIN 1234, as a card issuer would hand it over.
  bool initToken(const QString& label);
  // Writes a certificate object onto the token, as pkcs11-tool does for the user.
  bool writeCertificate(const QString& label, const QByteArray& der, const QString& id);
  // The token pulled out: it is gone from the module.
  bool removeToken(const QString& label);
  QString log;

 private:
  QString dir_;
  QByteArray oldConf_;
};

// A certificate store folder of the test's own as the only source read: no token module, no browser
// database. The variables are cleared when it goes.
class CertStoreFolder {
 public:
  CertStoreFolder();
  ~CertStoreFolder();
  QString path() const { return dir_.path(); }
  QString filePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
};

// An NSS database made by certutil in `dir` (created), holding these PEM certificates.
bool MakeNssDatabase(const QString& dir, const QList<QByteArray>& pems, QString* log = nullptr);

// An ICP-Brasil-like chain made with the openssl program in `dir`: root, intermediate and holder,
// the holder's CNPJ only in the subject alternative name (otherName 2.16.76.1.3.3).
struct IcpChain {
  QByteArray rootPem, intermediatePem, holderPem, holderDer;
};
bool MakeIcpChain(const QString& dir, const QString& holderName, const QString& cnpj, IcpChain* out,
                  QString* log = nullptr);
