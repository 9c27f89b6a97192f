#include "net/enc64.h"

#include "base/cp1252.h"

Base64Error::Base64Error() : std::runtime_error("Input string is not valid Base64.") {}

namespace {
int valueOf(char16_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;  // "=" and every stranger decode as 0
}
}  // namespace

QByteArray MyDecodeBytes(QString& text) {
  text.remove(QLatin1Char('\r'));
  text.remove(QLatin1Char('\n'));
  const qsizetype n = text.size();
  if (n == 0 || n % 4 != 0) throw Base64Error();
  const int fill = text.contains(QStringLiteral("==")) ? 2 : text.contains(QLatin1Char('=')) ? 1 : 0;
  // The alphabet is ASCII, so every character outside it (whatever its code page byte) is 0.
  QByteArray out(n / 4 * 3, Qt::Uninitialized);
  char* o = out.data();
  const QChar* p = text.constData();
  for (qsizetype i = 0; i < n; i += 4) {
    const quint32 v = (valueOf(p[i].unicode()) << 18) | (valueOf(p[i + 1].unicode()) << 12) |
                      (valueOf(p[i + 2].unicode()) << 6) | valueOf(p[i + 3].unicode());
    *o++ = static_cast<char>((v >> 16) & 255);
    *o++ = static_cast<char>((v >> 8) & 255);
    *o++ = static_cast<char>(v & 255);
  }
  out.chop(fill);
  return out;
}

QString MyDecode(QString& text) { return fromCp1252(MyDecodeBytes(text)); }
