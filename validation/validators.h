#pragma once
#include <QString>
#include <string_view>

// Check-digit validation of Brazilian documents. Pure functions: only the ASCII digits of the
// input count, missing positions count as 0, no length is tested, and they never fail.
bool CPFValida(std::string_view text);
bool CNPJValida(std::string_view text);
// uf is compared exactly (case-sensitive); an unknown state code is exempt (valid).
bool IEValida(std::string_view ie, std::string_view uf);
// True when uf is one of the 27 codes that have a rule (same exact comparison as IEValida).
bool IEUnidadeConhecida(std::string_view uf);

// The QString forms pass the UTF-8 bytes with their full length, so an embedded NUL does not cut
// the text short.
inline bool CPFValida(const QString& text) {
  const QByteArray a = text.toUtf8();
  return CPFValida(std::string_view(a.constData(), size_t(a.size())));
}
inline bool CNPJValida(const QString& text) {
  const QByteArray a = text.toUtf8();
  return CNPJValida(std::string_view(a.constData(), size_t(a.size())));
}
inline bool IEValida(const QString& ie, const QString& uf) {
  const QByteArray a = ie.toUtf8(), b = uf.toUtf8();
  return IEValida(std::string_view(a.constData(), size_t(a.size())), std::string_view(b.constData(), size_t(b.size())));
}
// C strings (literals) would otherwise be ambiguous between the two forms above.
inline bool CPFValida(const char* text) { return CPFValida(std::string_view(text)); }
inline bool CNPJValida(const char* text) { return CNPJValida(std::string_view(text)); }
inline bool IEValida(const char* ie, const char* uf) { return IEValida(std::string_view(ie), std::string_view(uf)); }
