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

#include <QDir>
#include <QFile>
#include <QProcess>
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
  if (!spec.subjectAltName.isEmpty()) {
    X509_EXTENSION* ext =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, spec.subjectAltName.toLatin1().constData());
    check(ext, "san");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
  }
  if (spec.ca) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, "critical,CA:TRUE");
    check(ext, "ca");
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

bool RunTool(const QString& program, const QStringList& args, QString* log) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  const bool ok = p.waitForStarted(10000) && p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
                  p.exitCode() == 0;
  if (log)
    *log += program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QLatin1Char('\n') +
            QString::fromLocal8Bit(p.readAll());
  return ok;
}

namespace {
bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

SoftHsm::SoftHsm(const QString& dir) : dir_(dir), oldConf_(qgetenv("SOFTHSM2_CONF")) {
  QDir().mkpath(QDir(dir).filePath("tokens"));
  const QString conf = QDir(dir).filePath("softhsm2.conf");
  writeBytes(conf, QStringLiteral("directories.tokendir = %1\nobjectstore.backend = file\nlog.level = ERROR\n")
                       .arg(QDir(dir).filePath("tokens"))
                       .toUtf8());
  qputenv("SOFTHSM2_CONF", conf.toLocal8Bit());
}

SoftHsm::~SoftHsm() {
  if (oldConf_.isEmpty()) qunsetenv("SOFTHSM2_CONF");
  else qputenv("SOFTHSM2_CONF", oldConf_);
}

QString SoftHsm::module() { return QStringLiteral("/usr/lib/softhsm/libsofthsm2.so"); }

bool SoftHsm::initToken(const QString& label) {
  return RunTool("softhsm2-util", {"--init-token", "--free", "--label", label, "--pin", "1234", "--so-pin", "5678"},
                 &log);
}

bool SoftHsm::writeCertificate(const QString& label, const QByteArray& der, const QString& id) {
  const QString file = QDir(dir_).filePath("cert-" + id + ".der");
  if (!writeBytes(file, der)) return false;
  return RunTool("pkcs11-tool",
                 {"--module", module(), "--token-label", label, "--login", "--pin", "1234", "--write-object", file,
                  "--type", "cert", "--label", "cert" + id, "--id", id},
                 &log);
}

bool SoftHsm::removeToken(const QString& label) {
  return RunTool("softhsm2-util", {"--delete-token", "--token", label}, &log);
}

bool MakeNssDatabase(const QString& dir, const QList<QByteArray>& pems, QString* log) {
  QDir().mkpath(dir);
  const QString db = "sql:" + dir;
  if (!RunTool("certutil", {"-N", "-d", db, "--empty-password"}, log)) return false;
  for (int i = 0; i < pems.size(); ++i) {
    const QString file = QDir(dir).filePath(QStringLiteral("import-%1.pem").arg(i));
    if (!writeBytes(file, pems[i])) return false;
    const bool ok =
        RunTool("certutil", {"-A", "-n", QStringLiteral("cert%1").arg(i), "-t", ",,", "-i", file, "-d", db}, log);
    QFile::remove(file);
    if (!ok) return false;
  }
  return true;
}

bool MakeIcpChain(const QString& dir, const QString& holderName, const QString& cnpj, IcpChain* out, QString* log) {
  QDir().mkpath(dir);
  const QDir d(dir);
  auto f = [&](const char* name) { return d.filePath(QString::fromLatin1(name)); };
  writeBytes(f("ca.ext"), "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n");
  writeBytes(f("holder.ext"), ("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                               "subjectAltName=otherName:2.16.76.1.3.3;UTF8:" +
                               cnpj + "\n")
                                  .toUtf8());
  const QString ossl = QStringLiteral("openssl");
  const bool ok =
      RunTool(ossl,
              {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f("root.key"), "-out", f("root.pem"),
               "-days", "3650", "-subj", "/C=BR/O=ICP-Brasil/OU=Teste/CN=AC Raiz Teste ICP", "-addext",
               "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
              log) &&
      RunTool(ossl,
              {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", f("int.key"), "-out", f("int.csr"), "-subj",
               "/C=BR/O=ICP-Brasil/OU=Secretaria da Receita Federal do Brasil - RFB/CN=AC Teste RFB"},
              log) &&
      RunTool(ossl,
              {"x509", "-req", "-in", f("int.csr"), "-CA", f("root.pem"), "-CAkey", f("root.key"), "-CAcreateserial",
               "-days", "1800", "-extfile", f("ca.ext"), "-out", f("int.pem")},
              log) &&
      RunTool(ossl,
              {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", f("holder.key"), "-out", f("holder.csr"), "-subj",
               "/C=BR/O=ICP-Brasil/OU=Certificado PJ A1/CN=" + holderName},
              log) &&
      RunTool(ossl,
              {"x509", "-req", "-in", f("holder.csr"), "-CA", f("int.pem"), "-CAkey", f("int.key"), "-CAcreateserial",
               "-days", "365", "-extfile", f("holder.ext"), "-out", f("holder.pem")},
              log) &&
      RunTool(ossl, {"x509", "-in", f("holder.pem"), "-outform", "DER", "-out", f("holder.der")}, log);
  if (!ok) return false;
  out->rootPem = readBytes(f("root.pem"));
  out->intermediatePem = readBytes(f("int.pem"));
  out->holderPem = readBytes(f("holder.pem"));
  out->holderDer = readBytes(f("holder.der"));
  return !out->holderDer.isEmpty();
}

CertStoreFolder::CertStoreFolder() {
  qputenv("ZIDE_CERTIFICADOS", dir_.path().toLocal8Bit());
  qputenv("ZIDE_PKCS11_MODULES", "");
  qputenv("ZIDE_NSS_DBS", "");
}

CertStoreFolder::~CertStoreFolder() {
  qunsetenv("ZIDE_CERTIFICADOS");
  qunsetenv("ZIDE_PKCS11_MODULES");
  qunsetenv("ZIDE_NSS_DBS");
}
