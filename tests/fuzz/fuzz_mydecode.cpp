// Base64 text from the server (keys, certificates' exports) through the lenient decoder.
#include <QRegularExpression>

#include "fuzzing.h"
#include "net/enc64.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString original = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString stripped = original;
  stripped.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));

  QString arg = original;
  QByteArray out;
  bool threw = false;
  try {
    out = MyDecodeBytes(arg);
  } catch (const Base64Error& e) {
    threw = true;
    FUZZ_CHECK(e.number() == Base64Error::kNumber);
  }
  // CR and LF leave the caller's text whatever the outcome.
  FUZZ_CHECK(arg == stripped);
  const qsizetype n = stripped.size();
  FUZZ_CHECK(threw == (n == 0 || n % 4 != 0));
  if (threw) return 0;
  const int fill = stripped.contains(QStringLiteral("==")) ? 2 : stripped.contains(QLatin1Char('=')) ? 1 : 0;
  FUZZ_CHECK(out.size() == n / 4 * 3 - fill);

  // On canonical Base64 the lenient rules agree with the standard decoder.
  static const QRegularExpression canonical(QStringLiteral("^[A-Za-z0-9+/]*(==|=)?$"));
  if (canonical.match(stripped).hasMatch()) {
    const auto std = QByteArray::fromBase64Encoding(stripped.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (std) FUZZ_CHECK(*std == out);
  }

  // The text form gives one character per byte.
  QString again = original;
  FUZZ_CHECK(MyDecode(again).size() == out.size());
  return 0;
}
