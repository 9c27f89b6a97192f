#include "support/testcerts.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace {

QByteArray bioBytes(BIO* bio) {
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio, &data);
  return QByteArray(data, static_cast<qsizetype>(len));
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("OpenSSL: ") + what);
}

void setName(X509_NAME* name, const QString& cn) {
  const QByteArray utf8 = cn.toUtf8();
  X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("BR"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("ICP-Brasil"), -1, -1, 0);
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(utf8.constData()),
                                   -1, -1, 0),
        "CN");
}

}  // namespace

TestCert MakeTestCert(const TestCertSpec& spec) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  check(key, "key");
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(QDateTime::currentMSecsSinceEpoch() & 0x7fffffff));
  ASN1_TIME_set(X509_getm_notBefore(x), static_cast<time_t>(spec.notBefore.toSecsSinceEpoch()));
  ASN1_TIME_set(X509_getm_notAfter(x), static_cast<time_t>(spec.notAfter.toSecsSinceEpoch()));
  setName(X509_get_subject_name(x), spec.commonName);
  setName(X509_get_issuer_name(x), spec.issuerName);
  X509_set_pubkey(x, key);

  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
  if (!spec.cdpUrls.isEmpty()) {
    QStringList parts;
    for (const QString& u : spec.cdpUrls) parts << QStringLiteral("URI:") + u;
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_crl_distribution_points,
                                              parts.join(QLatin1Char(',')).toLatin1().constData());
    check(ext, "cdp");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
  }
  if (spec.brokenCdp) {
    // An OCTET STRING that holds no valid DistributionPoints SEQUENCE.
    ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
    const unsigned char junk[] = {0x04, 0x03, 0x01, 0x02, 0x03};
    ASN1_OCTET_STRING_set(data, junk, sizeof junk);
    X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, NID_crl_distribution_points, 0, data);
    check(ext, "broken cdp");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(data);
  }
  check(X509_sign(x, key, EVP_sha256()) > 0, "sign");

  TestCert out;
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  out.der = QByteArray(reinterpret_cast<const char*>(der), len);
  OPENSSL_free(der);
  BIO* b = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(b, x);
  out.certPem = bioBytes(b);
  BIO_free(b);
  b = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
  out.keyPem = bioBytes(b);
  BIO_free(b);
  out.notBefore = QDateTime::fromSecsSinceEpoch(spec.notBefore.toSecsSinceEpoch(), Qt::UTC);
  out.notAfter = QDateTime::fromSecsSinceEpoch(spec.notAfter.toSecsSinceEpoch(), Qt::UTC);
  X509_free(x);
  EVP_PKEY_free(key);
  return out;
}

QByteArray MakePkcs12(const TestCert& cert, const QString& password, bool legacy) {
  if (legacy) {
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
  }
  BIO* b = BIO_new_mem_buf(cert.certPem.constData(), static_cast<int>(cert.certPem.size()));
  X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
  BIO_free(b);
  b = BIO_new_mem_buf(cert.keyPem.constData(), static_cast<int>(cert.keyPem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
  BIO_free(b);
  const QByteArray pass = password.toUtf8();
  // Legacy: the certificates under 40-bit RC2 and the key under 3DES, SHA-1 MAC, as old exports were.
  const int nidKey = legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : NID_aes_256_cbc;
  const int nidCert = legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : NID_aes_256_cbc;
  PKCS12* p12 =
      PKCS12_create_ex(pass.constData(), "zide", key, x, nullptr, nidKey, nidCert, 2048, 2048, 0, nullptr, nullptr);
  check(p12, "pkcs12");
  if (legacy) PKCS12_set_mac(p12, pass.constData(), -1, nullptr, 0, 2048, EVP_sha1());
  b = BIO_new(BIO_s_mem());
  i2d_PKCS12_bio(b, p12);
  const QByteArray out = bioBytes(b);
  BIO_free(b);
  PKCS12_free(p12);
  X509_free(x);
  EVP_PKEY_free(key);
  return out;
}

QString KeyReturnText(const QDateTime& moment, QChar simples, const QString& key) {
  QString t = QStringLiteral("ECNPJ-OK-0000000001");                          // 1-19
  t += QLatin1Char(' ');                                                      // 20
  t += moment.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));  // 21-39
  t += QStringLiteral("   REGIME: ");                                         // 40-50
  t += simples;                                                               // 51
  t += QStringLiteral("  CHAVE: ");                                           // 52-60
  t += key;                                                                   // 61-68
  return t;
}
