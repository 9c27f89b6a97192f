// The details document of one transmission, as the tree of the main window reads it.
#include "fuzzing.h"
#include "transmission/transmissions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString xml = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString error;
  const auto d = Transmissions::ParseDetails(xml, &error);
  if (!d) FUZZ_CHECK(!error.isEmpty());
  return 0;
}
