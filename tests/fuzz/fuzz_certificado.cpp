// A certificate file of the store (DER or PEM) as the store listing and the routines read it, with
// the holder document it carries.
#include "fuzzing.h"
#include "registry/certificates.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = fuzzing::bytes(data, size);
  QStringList urls;
  unsigned long code = 0;
  // The distribution points are also read from whatever the routine is handed.
  if (!CdpUrls(bytes, &urls, &code)) FUZZ_CHECK(code != 0);

  const auto info = ParseCertificate(bytes);
  if (!info) return 0;
  FUZZ_CHECK(!info->der.isEmpty());
  FUZZ_CHECK(info->thumbprint.size() == 40);
  // What the store keeps (the DER) reads back as the same certificate.
  const auto again = ParseCertificate(info->der);
  FUZZ_CHECK(again && again->thumbprint == info->thumbprint && again->issuedTo == info->issuedTo);
  if (!CdpUrls(info->der, &urls, &code)) FUZZ_CHECK(code != 0 && info->hasCdp);
  // The holder's document is a CPF or a CNPJ, digits only.
  FUZZ_CHECK(info->document.isEmpty() || info->document.size() == 11 || info->document.size() == 14);
  for (const QChar c : info->document) FUZZ_CHECK(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
  FUZZ_CHECK(HolderDocument(info->der) == info->document);
  // The folder reads every certificate of a file; the first is the one read alone.
  const QList<CertificateInfo> all = ParseCertificates(bytes);
  FUZZ_CHECK(!all.isEmpty() && all.first().thumbprint == info->thumbprint);
  return 0;
}
