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
// The program's own store is a folder of certificate files (DER or PEM); it never holds a private key
// or a password. Its place is the user's data folder, or ZIDE_CERTIFICADOS. Tokens and browser
// databases are read by registry/certsources.h; every source gives the same CertificateInfo.

// A store or certificate that cannot be read: the routines report it as their component failure.
struct CertificateError : std::runtime_error {
  explicit CertificateError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// The routines' message when the store, the dialog or a certificate cannot be used.
QString ComponentFailureText();

// Where a certificate was found.
enum class CertificateOrigin { Pasta, Token, Navegador };
// "pasta", "token", "navegador": the names zide-cli prints.
QString OriginKey(CertificateOrigin origin);
// The caption the selection dialog shows beside each certificate.
QString OriginCaption(CertificateOrigin origin);

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
  QString owner;        // the holder's name: the common name without the ":document" ICP-Brasil adds
  QString document;     // CNPJ or CPF digits of the holder; empty when the certificate carries none
  bool isCa = false;    // basic constraints say it is a certification authority
  CertificateOrigin origin = CertificateOrigin::Pasta;
  QString source;  // the file, token or browser database it came from, as shown to the user
};

// A file, token or database that was not read, and why (in Portuguese, for the user).
struct SkippedSource {
  CertificateOrigin origin;
  QString where;
  QString reason;
};

// What one or all sources gave.
struct CertificateListing {
  QList<CertificateInfo> certificates;
  QList<SkippedSource> skipped;
  void append(const CertificateListing& other) {
    certificates += other.certificates;
    skipped += other.skipped;
  }
};

// Parses one certificate, DER or PEM; nullopt when the bytes are not a certificate.
std::optional<CertificateInfo> ParseCertificate(const QByteArray& bytes);
// Every certificate of a PEM file (a chain, say), or the one certificate of a DER file.
QList<CertificateInfo> ParseCertificates(const QByteArray& bytes);

// The holder's CNPJ or CPF as ICP-Brasil certificates carry it: the subject alternative name's
// otherName 2.16.76.1.3.3 (CNPJ), else 2.16.76.1.3.1 (birth date, then the CPF), else the digits
// after the colon of the common name. Digits only; empty when none is found.
QString HolderDocument(const QByteArray& der);

// The transmissions' test of the accountant's certificate: the accountant's document digits occur in
// its DER bytes, and the server's date (when known) is not after the end of its validity.
bool AcceptedForTransmission(const QByteArray& der, const QDateTime& validTo, const QString& docContador,
                             const QDateTime& serverDate);
inline const QString kCertificadoInvalidoTexto = QStringLiteral(
    "O Certificado escolhido é inválido. Verifique a validade e se o mesmo confere com os dados informados no "
    "cadastro do contador.");

// The CRL distribution-point URLs of a DER certificate, in order. Returns false and the OpenSSL
// error code when the extension is present but cannot be decoded; a certificate without the
// extension gives true and no URLs.
bool CdpUrls(const QByteArray& der, QStringList* urls, unsigned long* errorCode);

namespace CertificateStore {

// The store folder: ZIDE_CERTIFICADOS when set, else "certificados" in the user's data folder.
QString folder();

// Every certificate of the store, sorted by the name it was issued to, and each file that was left
// out with the reason (not a certificate, cut short, a PKCS#12 that needs its password). The default
// folder is created when missing (a new user has an empty store); a folder named by
// ZIDE_CERTIFICADOS that is missing or unreadable is itself a skipped source.
CertificateListing list();
// The certificates of list().
QList<CertificateInfo> open();

// Refused: a file that would hold the program too long (iteration counts far beyond real ones);
// `detail` is the message for the user.
enum class ImportStatus { Added, WrongPassword, Unreadable, Refused };
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
