// diziz.ini as the user (or a disk fault) left it: the values the program reads from it.
#include "base/settings.h"
#include "fuzzing.h"

namespace {
// The reader's own promises: at most 254 characters, never a single character, no NUL.
void checkValue(const QString& v) {
  FUZZ_CHECK(v.size() <= 254);
  FUZZ_CHECK(v.size() != 1);
  FUZZ_CHECK(!v.contains(QChar(0)));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray contents = fuzzing::bytes(data, size);
  const QString host = ReadSettingFrom(contents, QStringLiteral("servidor"), QStringLiteral("host"));
  checkValue(host);
  checkValue(ReadSettingFrom(contents, QStringLiteral("servidor"), QStringLiteral("port")));
  // Names are compared without regard to case or surrounding blanks.
  FUZZ_CHECK(ReadSettingFrom(contents, QStringLiteral(" SERVIDOR "), QStringLiteral("Host")) == host);
  return 0;
}
