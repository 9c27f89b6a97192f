#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>

// The user's certificates and what the program reads from them, through OpenSSL.
//
// The personal store is a folder of certificate files (DER or PEM), one certificate each; it never
// holds a private key or a password. Its place is the user's data folder, or ZIDE_CERTIFICADOS.

// A store or certificate that cannot be read: the routines report it as their component failure.
struct CertificateError : std::runtime_error {
  explicit CertificateError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// The routines' message when the store, the dialog or a certificate cannot be used.
QString ComponentFailureText();

// What the dialog shows and the routines check of one certificate.
struct CertificateInfo {
  QByteArray der;
  QString issuedTo;     // subject common name (whole subject when it has none)
  QString issuedBy;     // issuer common name (whole issuer when it has none)
  QDateTime validFrom;  // UTC
  QDateTime validTo;    // UTC
  bool hasCdp = false;  // extension 2.5.29.31 present
  QString thumbprint;   // SHA-1 of the DER, upper-case hex
  QString fileName;     // the store file it came from, when listed from the store
};

// Parses one certificate, DER or PEM; nullopt when the bytes are not a certificate.
std::optional<CertificateInfo> ParseCertificate(const QByteArray& bytes);

// The CRL distribution-point URLs of a DER certificate, in order. Returns false and the OpenSSL
// error code when the extension is present but cannot be decoded; a certificate without the
// extension gives true and no URLs.
bool CdpUrls(const QByteArray& der, QStringList* urls, unsigned long* errorCode);

namespace CertificateStore {

// The store folder: ZIDE_CERTIFICADOS when set, else "certificados" in the user's data folder.
QString folder();

// Every certificate of the store, sorted by the name it was issued to. The default folder is
// created when missing (a new user has an empty store); a folder named by ZIDE_CERTIFICADOS must
// exist. Throws CertificateError when the folder cannot be made or read, or a file in it does not
// parse as a certificate.
QList<CertificateInfo> open();

enum class ImportStatus { Added, WrongPassword, Unreadable };
struct ImportResult {
  ImportStatus status;
  CertificateInfo certificate;  // when added
  QString detail;               // why it failed, for the message
};

// Whether a file of this name is a PKCS#12 container (asks for a password).
bool isPkcs12(const QString& path);

// Adds the certificate held in an A1 file to the store: .pfx/.p12 opened with the password (old
// RC2-40 files too), or a .pem/.cer/.crt/.der certificate. Only the certificate is written; the key
// and password are dropped. The same certificate imported twice stays one file.
ImportResult importFile(const QString& path, const QString& password = QString());

}  // namespace CertificateStore
