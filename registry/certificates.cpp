#include "registry/certificates.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <memory>
#include <mutex>

namespace {

template <class T, void (*F)(T*)>
struct Deleter {
  void operator()(T* p) const { F(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using P12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;

void freeCertStack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
void freeDistPoints(STACK_OF(DIST_POINT) * s) { sk_DIST_POINT_pop_free(s, DIST_POINT_free); }

// Files exported the old way (RC2-40, 3DES) need the legacy provider; loading it explicitly turns off
// the implicit default one, so both are loaded.
void loadProviders() {
  static std::once_flag once;
  std::call_once(once, [] {
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
    ERR_clear_error();
  });
}

QString lastOpenSslError() {
  const unsigned long e = ERR_peek_last_error();
  char buf[256] = {};
  if (e) ERR_error_string_n(e, buf, sizeof buf);
  ERR_clear_error();
  return QString::fromLatin1(buf);
}

X509Ptr readCertificate(const QByteArray& bytes) {
  BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
  if (!bio) return nullptr;
  X509* x = nullptr;
  if (bytes.contains("-----BEGIN"))
    x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);  // skips keys and other blocks
  else x = d2i_X509_bio(bio.get(), nullptr);
  ERR_clear_error();
  return X509Ptr(x);
}

QByteArray derOf(X509* x) {
  unsigned char* out = nullptr;
  const int len = i2d_X509(x, &out);
  if (len <= 0) return {};
  QByteArray der(reinterpret_cast<const char*>(out), len);
  OPENSSL_free(out);
  return der;
}

QString nameText(const X509_NAME* name) {
  const int idx = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (idx >= 0) {
    unsigned char* utf8 = nullptr;
    const int len = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, idx)));
    if (len >= 0) {
      QString s = QString::fromUtf8(reinterpret_cast<const char*>(utf8), len);
      OPENSSL_free(utf8);
      return s;
    }
  }
  BioPtr bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  return QString::fromUtf8(data, static_cast<qsizetype>(len));
}

QDateTime timeOf(const ASN1_TIME* t) {
  struct tm tm {};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {};
  return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min, tm.tm_sec),
                   Qt::UTC);
}

CertificateInfo infoOf(X509* x) {
  CertificateInfo info;
  info.der = derOf(x);
  info.issuedTo = nameText(X509_get_subject_name(x));
  info.issuedBy = nameText(X509_get_issuer_name(x));
  info.validFrom = timeOf(X509_get0_notBefore(x));
  info.validTo = timeOf(X509_get0_notAfter(x));
  info.hasCdp = X509_get_ext_by_NID(x, NID_crl_distribution_points, -1) >= 0;
  info.thumbprint = QString::fromLatin1(QCryptographicHash::hash(info.der, QCryptographicHash::Sha1).toHex().toUpper());
  return info;
}

// Writes the certificate as DER under its thumbprint, so importing it again replaces the same file.
CertificateStore::ImportResult addToStore(X509* x) {
  using namespace CertificateStore;
  CertificateInfo info = infoOf(x);
  if (info.der.isEmpty()) return {ImportStatus::Unreadable, {}, lastOpenSslError()};
  // The store listing refuses a certificate whose validity cannot be read, and with it the whole
  // store; such a file (a damaged copy, say) must not get in.
  if (!info.validFrom.isValid() || !info.validTo.isValid())
    return {ImportStatus::Unreadable, {}, QStringLiteral("O certificado não tem um período de validade legível.")};
  const QString dir = folder();
  if (!QDir().mkpath(dir))
    return {ImportStatus::Unreadable, {}, QStringLiteral("Não foi possível criar a pasta %1").arg(dir)};
  QSaveFile f(QDir(dir).filePath(info.thumbprint + QStringLiteral(".cer")));
  if (!f.open(QIODevice::WriteOnly) || f.write(info.der) != info.der.size() || !f.commit())
    return {ImportStatus::Unreadable, {}, f.errorString()};
  info.fileName = f.fileName();
  return {ImportStatus::Added, info, {}};
}

}  // namespace

QString ComponentFailureText() {
  return QStringLiteral(
             "O programa não pode inicializar os componentes necessários.\r\n"
             "Favor verificar com o suporte técnico da sua empresa se os componentes estão instalados, é provável "
             "que o erro tenha ocorrido ao tentar inicializar o CAPICOM. Alguns programas de antivirus podem afetar "
             "estas funções. \r\n\r\nMaiores informações sobre a CAPICOM em ") +
         QStringLiteral("https://www.openssl.org/");
}

std::optional<CertificateInfo> ParseCertificate(const QByteArray& bytes) {
  X509Ptr x = readCertificate(bytes);
  if (!x) return std::nullopt;
  CertificateInfo info = infoOf(x.get());
  if (info.der.isEmpty() || !info.validFrom.isValid() || !info.validTo.isValid()) return std::nullopt;
  return info;
}

bool CdpUrls(const QByteArray& der, QStringList* urls, unsigned long* errorCode) {
  urls->clear();
  *errorCode = 0;
  X509Ptr x = readCertificate(der);
  if (!x) {
    *errorCode = ERR_PACK(ERR_LIB_X509, 0, ERR_R_PASSED_INVALID_ARGUMENT);
    return false;
  }
  if (X509_get_ext_by_NID(x.get(), NID_crl_distribution_points, -1) < 0) return true;
  ERR_clear_error();
  int critical = 0;
  std::unique_ptr<STACK_OF(DIST_POINT), decltype(&freeDistPoints)> points(
      static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(x.get(), NID_crl_distribution_points, &critical, nullptr)),
      &freeDistPoints);
  if (!points) {
    *errorCode = ERR_peek_last_error();
    if (*errorCode == 0) *errorCode = ERR_PACK(ERR_LIB_X509V3, 0, X509V3_R_INVALID_EXTENSION_STRING);
    ERR_clear_error();
    return false;
  }
  for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
    const DIST_POINT* dp = sk_DIST_POINT_value(points.get(), i);
    if (!dp->distpoint || dp->distpoint->type != 0) continue;  // only full names carry URLs
    const GENERAL_NAMES* names = dp->distpoint->name.fullname;
    for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
      const GENERAL_NAME* gn = sk_GENERAL_NAME_value(names, j);
      if (gn->type != GEN_URI) continue;
      const ASN1_IA5STRING* uri = gn->d.uniformResourceIdentifier;
      urls->append(
          QString::fromLatin1(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)), ASN1_STRING_length(uri)));
    }
  }
  return true;
}

namespace CertificateStore {

QString folder() {
  const QByteArray env = qgetenv("ZIDE_CERTIFICADOS");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/certificados");
}

QList<CertificateInfo> open() {
  const QString dir = folder();
  const bool chosen = !qgetenv("ZIDE_CERTIFICADOS").isEmpty();
  if (!QFileInfo(dir).isDir()) {
    if (chosen) throw CertificateError(QStringLiteral("Repositório de certificados não encontrado: %1").arg(dir));
    if (!QDir().mkpath(dir))
      throw CertificateError(QStringLiteral("Não foi possível criar o repositório de certificados: %1").arg(dir));
  }
  QDir d(dir);
  if (!QFileInfo(dir).isReadable())
    throw CertificateError(QStringLiteral("Repositório de certificados ilegível: %1").arg(dir));
  QList<CertificateInfo> list;
  for (const QFileInfo& fi : d.entryInfoList(QDir::Files, QDir::Name)) {
    QFile f(fi.filePath());
    if (!f.open(QIODevice::ReadOnly))
      throw CertificateError(QStringLiteral("Certificado ilegível: %1").arg(fi.filePath()));
    std::optional<CertificateInfo> info = ParseCertificate(f.readAll());
    if (!info) throw CertificateError(QStringLiteral("Arquivo que não é um certificado: %1").arg(fi.filePath()));
    info->fileName = fi.filePath();
    list.append(*info);
  }
  std::stable_sort(list.begin(), list.end(), [](const CertificateInfo& a, const CertificateInfo& b) {
    return QString::localeAwareCompare(a.issuedTo, b.issuedTo) < 0;
  });
  return list;
}

bool isPkcs12(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QLatin1String("pfx") || suffix == QLatin1String("p12");
}

ImportResult importFile(const QString& path, const QString& password) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {ImportStatus::Unreadable, {}, f.errorString()};
  const QByteArray bytes = f.readAll();
  f.close();

  if (!isPkcs12(path)) {
    X509Ptr x = readCertificate(bytes);
    if (!x) return {ImportStatus::Unreadable, {}, QStringLiteral("O arquivo não contém um certificado.")};
    return addToStore(x.get());
  }

  loadProviders();
  ERR_clear_error();
  BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
  P12Ptr p12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
  if (!p12) return {ImportStatus::Unreadable, {}, lastOpenSslError()};

  QByteArray pass = password.toUtf8();
  // An empty password may have been written as no password at all.
  const char* passArg = pass.constData();
  if (PKCS12_mac_present(p12.get())) {
    if (PKCS12_verify_mac(p12.get(), pass.constData(), static_cast<int>(pass.size())) != 1) {
      if (pass.isEmpty() && PKCS12_verify_mac(p12.get(), nullptr, 0) == 1) {
        passArg = nullptr;
      } else {
        OPENSSL_cleanse(pass.data(), static_cast<size_t>(pass.size()));
        ERR_clear_error();
        return {ImportStatus::WrongPassword, {}, {}};
      }
    }
  }
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  const int parsed = PKCS12_parse(p12.get(), passArg, &key, &cert, &chain);
  OPENSSL_cleanse(pass.data(), static_cast<size_t>(pass.size()));
  KeyPtr keyGuard(key);  // the key is never kept
  X509Ptr certGuard(cert);
  std::unique_ptr<STACK_OF(X509), decltype(&freeCertStack)> chainGuard(chain, &freeCertStack);
  if (!parsed) {
    const QString why = lastOpenSslError();
    // Without a MAC a wrong password only shows when decryption fails.
    if (!PKCS12_mac_present(p12.get())) return {ImportStatus::WrongPassword, {}, why};
    return {ImportStatus::Unreadable, {}, why};
  }
  X509* chosen = cert;
  if (!chosen && chain && sk_X509_num(chain) > 0) chosen = sk_X509_value(chain, 0);
  if (!chosen) return {ImportStatus::Unreadable, {}, QStringLiteral("O arquivo não contém um certificado.")};
  return addToStore(chosen);
}

}  // namespace CertificateStore
