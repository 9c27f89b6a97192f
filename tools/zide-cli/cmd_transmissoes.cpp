// zide-cli transmissoes IE CHAVE [--formato texto|json]: the main window's refresh without windows.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "base/appfolder.h"
#include "base/settings.h"
#include "commands.h"
#include "transmission/refresh.h"
#include "transmission/transmissions.h"

namespace {

constexpr int kExitRejected = 3;
constexpr int kExitUnavailable = 4;

void put(std::FILE* to, const QString& text) { std::fputs(text.toUtf8().constData(), to); }

int run(CommandArgs args) {
  QString ie, chave, format = QStringLiteral("texto");
  int positional = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (isHelpRequest(a)) {
      std::fputs(kTransmissoes.usage, stdout);
      return kExitOk;
    }
    if (a == "--formato") {
      if (i + 1 >= args.size()) return usageError(kTransmissoes, "falta o valor de --formato.");
      format = QString::fromUtf8(args[++i]);
      if (format != QLatin1String("texto") && format != QLatin1String("json"))
        return usageError(kTransmissoes, "formato desconhecido (use texto ou json).");
    } else if (positional == 0) {
      ie = QString::fromUtf8(args[i]);
      ++positional;
    } else if (positional == 1) {
      chave = QString::fromUtf8(args[i]);
      ++positional;
    } else {
      return usageError(kTransmissoes, "argumentos demais.");
    }
  }
  if (positional != 2) return usageError(kTransmissoes, "informe a inscrição estadual e a chave de acesso.");

  int argc = 1;
  char name[] = "zide-cli";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  // On a first use the data folder gets its default settings, as the window program gives it; without
  // it there are no settings and the exchange below fails as with a missing diziz.ini.
  if (QString error; !AppFolder::prepare(&error)) put(stderr, QStringLiteral("zide-cli: ") + error + QLatin1Char('\n'));
  InitSettingsPath();
  const Refresh::Result s = Refresh::Fetch(ie, chave);
  if (s.status != Refresh::Status::Ok) {
    // The main window's messages for the same answer (a refusal found outside the list has none).
    for (const Refresh::Notice& n : s.notices) put(stderr, n.text + QLatin1Char('\n'));
    if (s.notices.isEmpty()) put(stderr, QStringLiteral("Acesso não autorizado\n"));
    return s.status == Refresh::Status::Unavailable ? kExitUnavailable : kExitRejected;
  }
  const QString host = ReadSetting(QStringLiteral("servidor"), QStringLiteral("host"));
  const QString date = s.serverDate.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
  if (format == QLatin1String("json")) {
    QJsonArray list;
    for (const auto& r : *s.rows)
      list.append(QJsonObject{{"referencia", r.referencia},
                              {"dataProcessamento", r.data},
                              {"protocolo", r.protocolo},
                              {"status", r.status},
                              {"protocoloUrl", Transmissions::ReceiptUrl(host, ie, chave, r.referencia)}});
    QJsonObject o{
        {"dataServidor", date}, {"anoTrabalho", s.anoTrabalho}, {"atualizado", s.current}, {"transmissoes", list}};
    if (!s.current) o.insert("versaoMaisRecente", s.newestVersion.trimmed());
    put(stdout, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
    return kExitOk;
  }
  QString out = QStringLiteral("Data do servidor: ") + date + QLatin1Char('\n');
  out += QStringLiteral("Ano de trabalho: ") + s.anoTrabalho + QLatin1Char('\n');
  out += s.current ? QStringLiteral("O programa está atualizado\n")
                   : QStringLiteral("Nova atualização disponível para download - versão ") + s.newestVersion.trimmed() +
                         QLatin1Char('\n');
  for (const auto& r : *s.rows)
    out += r.referencia + QLatin1Char('\t') + r.data + QLatin1Char('\t') + r.protocolo + QLatin1Char('\t') + r.status +
           QLatin1Char('\t') + Transmissions::ReceiptUrl(host, ie, chave, r.referencia) + QLatin1Char('\n');
  put(stdout, out);
  return kExitOk;
}

}  // namespace

const Command kTransmissoes = {
    "transmissoes", run, "lista as transmissões de um contribuinte (servidor de diziz.ini)",
    "Uso: zide-cli transmissoes IE CHAVE [--formato texto|json]\n"
    "  Consulta o servidor configurado em diziz.ini (na pasta de dados: ZIDE_HOME, a pasta do programa\n"
    "  quando ela tem um diziz.ini, ou ~/.local/share/zide) e mostra a data do\n"
    "  servidor, o ano de trabalho, se o programa está atualizado e uma linha por transmissão:\n"
    "  referência, data de processamento, protocolo, situação e endereço do protocolo.\n"
    "  Saída: 0 sucesso, 3 chave recusada, 4 servidor indisponível, 2 uso incorreto.\n"};
