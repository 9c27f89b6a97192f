#pragma once
#include <QString>
#include <string_view>

// Check-digit validation of Brazilian documents. Pure functions: only the ASCII digits of the
// input count, missing positions count as 0, no length is tested, and they never fail.
bool CPFValida(std::string_view text);
bool CNPJValida(std::string_view text);
// uf is compared exactly (case-sensitive); an unknown state code is exempt (valid).
bool IEValida(std::string_view ie, std::string_view uf);

inline bool CPFValida(const QString& text) { return CPFValida(std::string_view(text.toUtf8())); }
inline bool CNPJValida(const QString& text) { return CNPJValida(std::string_view(text.toUtf8())); }
inline bool IEValida(const QString& ie, const QString& uf) {
  const QByteArray a = ie.toUtf8(), b = uf.toUtf8();
  return IEValida(std::string_view(a.constData(), a.size()), std::string_view(b.constData(), b.size()));
}
