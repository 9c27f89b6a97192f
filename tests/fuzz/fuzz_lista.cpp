// The transmission list document (listaTransferencias) and the fixed-position fields read from the
// same text, as the refresh reads a result.
#include "fuzzing.h"
#include "transmission/transmissions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto rows = Transmissions::ParseList(text);
  if (rows) {
    for (const Transmissions::Row& r : *rows) {
      // Every cell is text of the document.
      FUZZ_CHECK(r.referencia.size() + r.data.size() + r.protocolo.size() + r.status.size() + r.adicionado.size() <=
                 text.size());
    }
  }
  const Transmissions::ServerFields f = Transmissions::FieldsOf(text);
  FUZZ_CHECK(f.date.size() <= 19 && f.year.size() <= 9 && f.version.size() <= 20);
  const auto date = Transmissions::ParseServerDate(f.date);
  if (date) FUZZ_CHECK(date->isValid());
  // The field reader on arbitrary bounds, as other fixed-position replies use it.
  if (size >= 2) Transmissions::Field(text, int(data[0]) - 16, int(data[1]) - 16);
  return 0;
}
