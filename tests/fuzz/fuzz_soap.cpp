// A SOAP answer as the network delivers it, through the steps of the taxpayer refresh: the result
// element, the key markers, the transmission list and the fixed-position server fields.
#include "fuzzing.h"
#include "net/soap.h"
#include "transmission/transmissions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString response = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  // The accountant's reading of the same answer: a fault's reason is text of the answer.
  QString reason = QStringLiteral("stale");
  const SoapReplyKind kind = ReadSoapReply(response, &reason);
  FUZZ_CHECK(kind == SoapReplyKind::Fault ? reason.size() <= response.size() : reason.isEmpty());
  QString result = QStringLiteral("stale");
  const bool ok = GetResult(response, QStringLiteral("return"), &result);
  if (!ok) {
    FUZZ_CHECK(result.isEmpty());
    return 0;
  }
  // The result is text of the answer, never more than the answer itself.
  FUZZ_CHECK(result.size() <= response.size());
  Transmissions::IsInvalidKey(result);
  Transmissions::IsAccessRefused(result);
  Transmissions::ParseList(result);
  const Transmissions::ServerFields f = Transmissions::FieldsOf(result);
  FUZZ_CHECK(f.date.size() <= 19 && f.year.size() <= 9 && f.version.size() <= 20);
  Transmissions::ParseServerDate(f.date);
  return 0;
}
