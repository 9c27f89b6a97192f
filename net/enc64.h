#pragma once
#include <QByteArray>
#include <QString>
#include <stdexcept>

// Raised by MyDecode; carries the number, source and description the callers report.
class Base64Error : public std::runtime_error {
 public:
  Base64Error();
  // -2147221504: the base of application-defined object errors (0x80040000) plus 0.
  static constexpr long kNumber = -2147221504L;
  long number() const { return kNumber; }
  QString source() const { return QStringLiteral("MyDecode"); }
  QString description() const { return QStringLiteral("Input string is not valid Base64."); }
};

// Base64 text back to its bytes, one character per byte (Windows-1252). CR and LF are removed from
// the argument itself, as the callers expect. Lenient on purpose: characters outside the alphabet
// count as 0, and the fill count comes from "=" or "==" anywhere in the text.
// Throws Base64Error when the length without CR/LF is 0 or not a multiple of 4.
QString MyDecode(QString& text);

// The same decoding, giving the bytes themselves.
QByteArray MyDecodeBytes(QString& text);
