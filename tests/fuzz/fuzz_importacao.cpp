// A certificate file the user imports into the store: as a .pfx (with the empty password and with a
// wrong one) and as a .cer, into a store folder of its own.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fuzzing.h"
#include "registry/certificates.h"

namespace {
QTemporaryDir* work = nullptr;

void importAs(const QString& name, const uint8_t* data, size_t size, const QString& password) {
  const QString path = work->filePath(name);
  {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
  }
  const auto r = CertificateStore::importFile(path, password);
  if (r.status != CertificateStore::ImportStatus::Added) return;
  // Only a certificate that the store can list again is ever written to it.
  QFile stored(r.certificate.fileName);
  FUZZ_CHECK(stored.open(QIODevice::ReadOnly));
  FUZZ_CHECK(ParseCertificate(stored.readAll()).has_value());
  stored.remove();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  fuzzing::ensureApp();
  work = new QTemporaryDir();
  qputenv("ZIDE_CERTIFICADOS", QFile::encodeName(work->filePath(QStringLiteral("store"))));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  importAs(QStringLiteral("a1.pfx"), data, size, QString());
  importAs(QStringLiteral("a1.pfx"), data, size, QStringLiteral("senha errada"));
  importAs(QStringLiteral("a1.cer"), data, size, QString());
  return 0;
}
