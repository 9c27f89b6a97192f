#include "registry/serverreply.h"

namespace Transmissions {

QString TrimBlanks(const QString& text) {
  qsizetype b = 0, e = text.size();
  while (b < e && text[b] == QLatin1Char(' ')) ++b;
  while (e > b && text[e - 1] == QLatin1Char(' ')) --e;
  return text.mid(b, e - b);
}

QString Field(const QString& text, int from, int to) {
  if (from > text.size()) return QString();
  return text.mid(from - 1, to - from + 1);
}

std::optional<QDateTime> ParseServerDate(const QString& text) {
  // The forms a Brazilian system's date parsing takes, each with or without the seconds; a date
  // without seconds leaves blanks in the fixed-width field.
  static const char* const kForms[] = {"dd/MM/yyyy HH:mm", "dd-MM-yyyy HH:mm",   "dd.MM.yyyy HH:mm",
                                       "yyyy-MM-dd HH:mm", "yyyy-MM-dd'T'HH:mm", "yyyy/MM/dd HH:mm"};
  const QString t = TrimBlanks(text);
  for (const char* form : kForms) {
    const QString f = QString::fromLatin1(form);
    for (const QString& fmt : {f + QStringLiteral(":ss"), f}) {
      const QDateTime d = QDateTime::fromString(t, fmt);
      if (d.isValid()) return d;
    }
  }
  return std::nullopt;
}

ServerFields FieldsOf(const QString& result) {
  return {Field(result, 32, 50), Field(result, 59, 67), Field(result, 78, 97)};
}

}  // namespace Transmissions
