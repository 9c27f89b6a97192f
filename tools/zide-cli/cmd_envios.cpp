// zide-cli envios [--ie IE] [--formato texto|json|csv]: the journal of deliveries, as the "Envios"
// window shows it. Only reads: it takes no lock and creates nothing.
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "commands.h"
#include "registry/deliveryreport.h"
#include "registry/deliverystore.h"
#include "registry/localdb.h"

namespace {

void put(std::FILE* to, const QByteArray& bytes) { std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to); }

int run(CommandArgs args) {
  QString ie, format = QStringLiteral("texto");
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (isHelpRequest(a)) {
      std::fputs(kEnvios.usage, stdout);
      return kExitOk;
    }
    if (a == "--formato" || a == "--ie") {
      if (i + 1 >= args.size())
        return usageError(kEnvios, a == "--ie" ? "falta o valor de --ie." : "falta o valor de --formato.");
      (a == "--ie" ? ie : format) = QString::fromUtf8(args[++i]);
    } else {
      return usageError(kEnvios, "argumento desconhecido.");
    }
  }
  if (format != QLatin1String("texto") && format != QLatin1String("json") && format != QLatin1String("csv"))
    return usageError(kEnvios, "formato desconhecido (use texto, json ou csv).");

  CliApp app;
  QList<DeliveryStore::Delivery> rows;
  if (QFileInfo(LocalDatabase::path()).isFile()) {
    try {
      DbConnection db(LocalDatabase::path());
      rows = DeliveryStore::list(db, ie);
    } catch (const DbError& e) {
      put(stderr, QStringLiteral("zide-cli: não foi possível ler o cadastro local (%1): %2\n")
                      .arg(LocalDatabase::path(), e.description)
                      .toUtf8());
      return kExitIo;
    }
  }
  if (format == QLatin1String("json")) put(stdout, DeliveryReport::Json(rows));
  else if (format == QLatin1String("csv")) put(stdout, DeliveryReport::Csv(rows).toUtf8());
  else if (rows.isEmpty()) put(stdout, QStringLiteral("Nenhum envio registrado.\n").toUtf8());
  else put(stdout, DeliveryReport::Text(rows).toUtf8());
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitOk : kExitIo;
}

}  // namespace

const Command kEnvios = {
    "envios", run, "lista os envios feitos deste computador (o diário de entregas)",
    "Uso: zide-cli envios [--ie IE] [--formato texto|json|csv]\n\n"
    "Lista, do mais novo ao mais antigo, cada tentativa de envio gravada no cadastro local: data, empresa,\n"
    "contador, arquivo, tamanho e SHA-256 dos bytes enviados, referências, resposta do servidor, veredito\n"
    "e protocolos confirmados. --ie mostra só os envios dessa inscrição estadual.\n"};
