#include "transmission/simplesanswer.h"

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
