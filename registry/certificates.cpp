#include "registry/certificates.h"

#include <unistd.h>

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
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/privatefile.h"

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

QString asn1Text(const ASN1_STRING* s) {
  if (!s) return {};
  return QString::fromLatin1(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), ASN1_STRING_length(s));
}

QString digitsOf(const QString& s) {
  QString out;
  for (const QChar c : s)
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) out += c;
  return out;
}

bool allZeros(const QString& digits) { return digits.count(QLatin1Char('0')) == digits.size(); }

// The text of a subject alternative name's otherName, whatever string type the issuer chose.
QString otherNameText(const OTHERNAME* on) {
  const ASN1_TYPE* v = on->value;
  if (!v) return {};
  switch (v->type) {
    case V_ASN1_OCTET_STRING:
    case V_ASN1_UTF8STRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_T61STRING: return asn1Text(v->value.asn1_string);
    default: return {};
  }
}

QString commonName(const X509_NAME* name) {
  const int idx = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (idx < 0) return {};
  unsigned char* utf8 = nullptr;
  const int len = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, idx)));
  if (len < 0) return {};
  QString s = QString::fromUtf8(reinterpret_cast<const char*>(utf8), len);
  OPENSSL_free(utf8);
  return s;
}

QString documentOf(X509* x) {
  QString cnpj, cpf;
  std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES, GENERAL_NAMES_free>> names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x, NID_subject_alt_name, nullptr, nullptr)));
  ERR_clear_error();
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* gn = sk_GENERAL_NAME_value(names.get(), i);
    if (gn->type != GEN_OTHERNAME || !gn->d.otherName || !gn->d.otherName->type_id) continue;
    char oid[64] = {};
    OBJ_obj2txt(oid, sizeof oid, gn->d.otherName->type_id, 1);
    const QString value = otherNameText(gn->d.otherName);
    if (qstrcmp(oid, "2.16.76.1.3.3") == 0) {
      const QString d = digitsOf(value);
      if (d.size() == 14 && !allZeros(d)) cnpj = d;
    } else if (qstrcmp(oid, "2.16.76.1.3.1") == 0) {
      // Eight characters of birth date (ddmmyyyy), then the eleven digits of the CPF.
      const QString d = value.mid(8, 11);
      if (d.size() == 11 && digitsOf(d) == d && !allZeros(d)) cpf = d;
    }
  }
  if (!cnpj.isEmpty()) return cnpj;
  if (!cpf.isEmpty()) return cpf;
  const QString cn = commonName(X509_get_subject_name(x));
  const qsizetype colon = cn.lastIndexOf(QLatin1Char(':'));
  if (colon < 0) return {};
  const QString tail = cn.mid(colon + 1).trimmed();
  const QString d = digitsOf(tail);
  if ((d.size() == 11 || d.size() == 14) && d.size() == tail.size()) return d;
  return {};
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
  info.document = documentOf(x);
  info.owner = commonName(X509_get_subject_name(x));
  const qsizetype colon = info.owner.lastIndexOf(QLatin1Char(':'));
  if (colon > 0 && !info.document.isEmpty() && info.owner.mid(colon + 1).trimmed() == info.document)
    info.owner = info.owner.left(colon).trimmed();
  if (info.owner.isEmpty()) info.owner = info.issuedTo;
  info.isCa = X509_check_ca(x) != 0;
  return info;
}

bool usable(const CertificateInfo& info) {
  return !info.der.isEmpty() && info.validFrom.isValid() && info.validTo.isValid();
}

// Writes the certificate as DER under its thumbprint, so importing it again replaces the same file.
CertificateStore::ImportResult addToStore(X509* x) {
  using namespace CertificateStore;
  CertificateInfo info = infoOf(x);
  if (info.der.isEmpty()) return {ImportStatus::Unreadable, {}, lastOpenSslError()};
  // The store listing skips a certificate whose validity cannot be read; such a file (a damaged
  // copy, say) must not get in as if it had been imported.
  if (!info.validFrom.isValid() || !info.validTo.isValid())
    return {ImportStatus::Unreadable, {}, QStringLiteral("O certificado não tem um período de validade legível.")};
  const QString dir = folder();
  if (!QDir().mkpath(dir))
    return {ImportStatus::Unreadable, {}, QStringLiteral("Não foi possível criar a pasta %1").arg(dir)};
  // A new file of the user's alone, renamed into place: a link planted at either name is replaced,
  // never followed, and a half-written certificate never stands under the final name.
  const QString target = QDir(dir).filePath(info.thumbprint + QStringLiteral(".cer"));
  const QString part = target + QStringLiteral(".parcial");
  const int fd = PrivateFile::create(part);
  QFile f;
  if (fd < 0 || !f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    const QString why = fd < 0 ? QString::fromLocal8Bit(strerror(errno)) : f.errorString();
    if (fd >= 0) ::close(fd);
    QFile::remove(part);
    return {ImportStatus::Unreadable, {}, why};
  }
  const bool written = f.write(info.der) == info.der.size() && f.flush();
  const QString why = f.errorString();
  f.close();
  if (!written || ::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) != 0) {
    QFile::remove(part);
    return {ImportStatus::Unreadable, {}, written ? QString::fromLocal8Bit(strerror(errno)) : why};
  }
  info.fileName = target;
  return {ImportStatus::Added, info, {}};
}

// Certificates and A1 files are a few kilobytes; a chain of authorities in PEM, some hundreds.
constexpr qint64 kMaxCertificateFile = 4 << 20;
// Real A1 files use some thousands of iterations (OpenSSL writes 2048 by default); ten million is
// already seconds of work, and the highest count in ordinary use.
constexpr long kMaxPkcs12Iterations = 10'000'000;

QString iterationsRefused(long count) {
  return QStringLiteral(
             "O certificado não foi importado: o arquivo pede %1 iterações no cálculo da senha, acima do limite de "
             "%2 que o programa aceita. Exporte o certificado de novo com o número de iterações padrão.")
      .arg(count < 0 ? QStringLiteral("mais de 2147483647") : QString::number(count))
      .arg(kMaxPkcs12Iterations);
}

long integerOf(const ASN1_INTEGER* i) {
  if (!i) return 1;  // absent: the default of one iteration
  const long v = ASN1_INTEGER_get(i);
  return v;  // -1 for a value that does not fit or a negative one: both refused
}

long macIterations(const PKCS12* p12) {
  if (!PKCS12_mac_present(p12)) return 0;
  const ASN1_INTEGER* iter = nullptr;
  PKCS12_get0_mac(nullptr, nullptr, nullptr, &iter, p12);
  return integerOf(iter);
}

// The iteration count of a password-based encryption algorithm; 0 when it has none we know.
long iterationsOf(const X509_ALGOR* alg) {
  const ASN1_OBJECT* oid = nullptr;
  int ptype = 0;
  const void* pval = nullptr;
  X509_ALGOR_get0(&oid, &ptype, &pval, alg);
  if (ptype != V_ASN1_SEQUENCE) return 0;
  const ASN1_TYPE* param = alg->parameter;
  if (OBJ_obj2nid(oid) == NID_pbes2) {
    std::unique_ptr<PBE2PARAM, Deleter<PBE2PARAM, PBE2PARAM_free>> pbe2(
        static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), param)));
    if (!pbe2 || !pbe2->keyfunc || OBJ_obj2nid(pbe2->keyfunc->algorithm) != NID_id_pbkdf2) return 0;
    std::unique_ptr<PBKDF2PARAM, Deleter<PBKDF2PARAM, PBKDF2PARAM_free>> kdf(
        static_cast<PBKDF2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter)));
    return kdf ? integerOf(kdf->iter) : 0;
  }
  std::unique_ptr<PBEPARAM, Deleter<PBEPARAM, PBEPARAM_free>> pbe(
      static_cast<PBEPARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), param)));
  return pbe ? integerOf(pbe->iter) : 0;
}

void freeBags(STACK_OF(PKCS12_SAFEBAG) * bags) { sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free); }
void freeSafes(STACK_OF(PKCS7) * safes) { sk_PKCS7_pop_free(safes, PKCS7_free); }

// The largest count among the keys of these bags (nested bags included); -1 for one too large to read.
long bagIterations(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth = 0) {
  long most = 0;
  for (int i = 0; bags && i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
    long n = 0;
    if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
      const X509_ALGOR* alg = nullptr;
      X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &alg, nullptr);
      if (alg) n = iterationsOf(alg);
    } else if (PKCS12_SAFEBAG_get_nid(bag) == NID_safeContentsBag && depth < 8) {
      n = bagIterations(PKCS12_SAFEBAG_get0_safes(bag), depth + 1);
    }
    if (n < 0) return n;
    most = std::max(most, n);
  }
  return most;
}

// The largest iteration count the file's encrypted parts ask for, each checked before it is used:
// an encrypted part's own count before it is opened, then the keys inside it.
long mostIterations(PKCS12* p12, const char* pass, int passLength) {
  std::unique_ptr<STACK_OF(PKCS7), decltype(&freeSafes)> safes(PKCS12_unpack_authsafes(p12), &freeSafes);
  long most = 0;
  for (int i = 0; safes && i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    const int nid = OBJ_obj2nid(p7->type);
    if (nid == NID_pkcs7_data) {
      bags = PKCS12_unpack_p7data(p7);
    } else if (nid == NID_pkcs7_encrypted && p7->d.encrypted && p7->d.encrypted->enc_data) {
      const long n = iterationsOf(p7->d.encrypted->enc_data->algorithm);
      if (n < 0 || n > kMaxPkcs12Iterations) return n;
      most = std::max(most, n);
      bags = PKCS12_unpack_p7encdata(p7, pass, passLength);
    }
    std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), decltype(&freeBags)> guard(bags, &freeBags);
    const long n = bagIterations(bags);
    if (n < 0 || n > kMaxPkcs12Iterations) return n;
    most = std::max(most, n);
  }
  ERR_clear_error();
  return most;
}

}  // namespace

QString OriginKey(CertificateOrigin origin) {
  switch (origin) {
    case CertificateOrigin::Pasta: return QStringLiteral("pasta");
    case CertificateOrigin::Token: return QStringLiteral("token");
    case CertificateOrigin::Navegador: return QStringLiteral("navegador");
  }
  return {};
}

QString OriginCaption(CertificateOrigin origin) {
  switch (origin) {
    case CertificateOrigin::Pasta: return QStringLiteral("Pasta do programa");
    case CertificateOrigin::Token: return QStringLiteral("Token / cartão");
    case CertificateOrigin::Navegador: return QStringLiteral("Navegador");
  }
  return {};
}

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
  if (!usable(info)) return std::nullopt;
  return info;
}

QList<CertificateInfo> ParseCertificates(const QByteArray& bytes) {
  if (!bytes.contains("-----BEGIN")) {
    std::optional<CertificateInfo> one = ParseCertificate(bytes);
    return one ? QList<CertificateInfo>{*one} : QList<CertificateInfo>{};
  }
  QList<CertificateInfo> out;
  BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
  // Other blocks (keys, requests) between the certificates are passed over.
  while (bio) {
    X509Ptr x(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!x) break;
    CertificateInfo info = infoOf(x.get());
    if (usable(info)) out.append(info);
  }
  ERR_clear_error();
  return out;
}

QString HolderDocument(const QByteArray& der) {
  X509Ptr x = readCertificate(der);
  return x ? documentOf(x.get()) : QString();
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

CertificateListing list() {
  CertificateListing out;
  const QString dir = folder();
  const bool chosen = !qgetenv("ZIDE_CERTIFICADOS").isEmpty();
  auto skipFolder = [&](const QString& reason) {
    out.skipped.append({CertificateOrigin::Pasta, dir, reason});
    return out;
  };
  if (!QFileInfo(dir).isDir()) {
    if (chosen) return skipFolder(QStringLiteral("a pasta não existe"));
    if (!QDir().mkpath(dir)) return skipFolder(QStringLiteral("não foi possível criar a pasta"));
  }
  QDir d(dir);
  if (!QFileInfo(dir).isReadable()) return skipFolder(QStringLiteral("a pasta não pode ser lida"));
  // System entries too (FIFOs, devices, links to them): they are named as skipped, never read.
  for (const QFileInfo& fi : d.entryInfoList(QDir::Files | QDir::System, QDir::Name)) {
    auto skip = [&](const QString& reason) { out.skipped.append({CertificateOrigin::Pasta, fi.filePath(), reason}); };
    if (fi.fileName().endsWith(QLatin1String(".parcial"))) continue;  // an import under way
    QByteArray bytes;
    QString why;
    if (!PrivateFile::readRegular(fi.filePath(), kMaxCertificateFile, &bytes, &why)) {
      skip(why);
      continue;
    }
    if (isPkcs12(fi.filePath())) {
      // The certificates inside a PKCS#12 are usually encrypted: only the import, with the
      // password, can take them out.
      BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
      P12Ptr p12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
      ERR_clear_error();
      skip(p12 ? QStringLiteral("arquivo A1 protegido por senha: use \"Importar certificado...\"")
               : QStringLiteral("arquivo A1 (PKCS#12) danificado ou incompleto"));
      continue;
    }
    const QList<CertificateInfo> found = ParseCertificates(bytes);
    if (found.isEmpty()) {
      skip(bytes.isEmpty() ? QStringLiteral("arquivo vazio")
                           : QStringLiteral("não é um certificado legível (DER ou PEM), ou está incompleto"));
      continue;
    }
    for (CertificateInfo info : found) {
      info.fileName = fi.filePath();
      info.origin = CertificateOrigin::Pasta;
      info.source = fi.fileName();
      out.certificates.append(info);
    }
  }
  std::stable_sort(out.certificates.begin(), out.certificates.end(),
                   [](const CertificateInfo& a, const CertificateInfo& b) {
                     return QString::localeAwareCompare(a.issuedTo, b.issuedTo) < 0;
                   });
  return out;
}

QList<CertificateInfo> open() { return list().certificates; }

bool isPkcs12(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QLatin1String("pfx") || suffix == QLatin1String("p12");
}

ImportResult importFile(const QString& path, const QString& password) {
  QByteArray bytes;
  QString unread;
  if (!PrivateFile::readRegular(path, kMaxCertificateFile, &bytes, &unread))
    return {ImportStatus::Unreadable, {}, unread};

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
  // The file names its own iteration counts: one far beyond any real certificate's would hold the
  // program for minutes (2^31-1 for hours) before the password is even checked.
  const auto tooMany = [&pass](long count) {
    OPENSSL_cleanse(pass.data(), static_cast<size_t>(pass.size()));
    ERR_clear_error();
    return ImportResult{ImportStatus::Refused, {}, iterationsRefused(count)};
  };
  if (const long mac = macIterations(p12.get()); mac > kMaxPkcs12Iterations || mac < 0) return tooMany(mac);
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
  if (const long most = mostIterations(p12.get(), passArg, passArg ? static_cast<int>(pass.size()) : 0);
      most > kMaxPkcs12Iterations || most < 0)
    return tooMany(most);
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

bool AcceptedForTransmission(const QByteArray& der, const QDateTime& validTo, const QString& docContador,
                             const QDateTime& serverDate) {
  // An empty document would be found in any certificate; a server date never received counts as the
  // earliest moment.
  const bool owned = !docContador.isEmpty() && QString::fromLatin1(der).contains(docContador, Qt::CaseSensitive);
  return owned && !(serverDate.isValid() && serverDate > validTo);
}
