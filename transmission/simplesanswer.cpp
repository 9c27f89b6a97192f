#include "transmission/simplesanswer.h"

#include <QRegularExpression>

namespace {
struct Refusal {
  const char* marker;
  const char* message;
};
const Refusal kRefusals[] = {
    {"ARQUIVO INVALIDO - EXTRATO",
     "O arquivo que você enviou (Extrato) não é correto para esta operação, por favor, verifique o manual que está "
     "disponível no site."},
    {"ARQUIVO INVALIDO - RECIBO",
     "O arquivo que você enviou (Recibo) não é correto para esta operação, por favor, verifique o manual que está "
     "disponível no site."},
    {"ARQUIVO INVALIDO - MODIFICADO",
     "O arquivo que você enviou foi modificado, você deverá fazer o download do arquivo original no site PGDAS. Se "
     "você decidir imprimir e salvar o resultado da impressão em PDF continuará dando erro, a maneira correta para "
     "isto é Salvar o arquivo."},
};
}  // namespace

QStringList SimplesRefusalMessages(const QString& answer) {
  QStringList found;
  for (const Refusal& r : kRefusals)
    if (answer.contains(QLatin1String(r.marker), Qt::CaseSensitive)) found << QString::fromUtf8(r.message);
  return found;
}

QString SimplesReference(const QByteArray& content, const QDateTime& serverDate) {
  // A month/year standing alone: no digit or slash glued before it, no digit after it.
  static const QRegularExpression period(QStringLiteral("(?<![0-9/])(0[1-9]|1[0-2])/((?:19|20)[0-9]{2})(?![0-9])"));
  const auto m = period.match(QString::fromLatin1(content));
  if (m.hasMatch()) return m.captured(0);
  return serverDate.isValid() ? serverDate.toString(QStringLiteral("MM/yyyy")) : QString();
}
