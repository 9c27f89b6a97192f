// zide-cli transmissoes IE [CHAVE|-] [--formato texto|json]: the main window's refresh without windows.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <optional>
#include <string>

#include "base/appfolder.h"
#include "base/settings.h"
#include "commands.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"
#include "transmission/refresh.h"
#include "transmission/transmissions.h"

namespace {

constexpr int kExitRejected = 3;
constexpr int kExitUnavailable = 4;

void put(std::FILE* to, const QString& text) { std::fputs(text.toUtf8().constData(), to); }

// The access key without putting it on the command line, where every user sees it in the process
// list: "-" reads it from the first line of standard input; no key at all takes the one stored for
// the IE in the local registry. A key given as an argument is used as it is (scripts).
std::optional<QString> obterChave(const QString& ie, const std::optional<QString>& argumento, QString* erro) {
  if (argumento && *argumento != QLatin1String("-")) return *argumento;
  if (argumento) {
    std::string line;
    for (int c; line.size() < 1024 && (c = std::fgetc(stdin)) != EOF && c != '\n';) line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const QString chave = QString::fromUtf8(line).trimmed();
    if (chave.isEmpty()) *erro = QStringLiteral("nenhuma chave de acesso na entrada padrão.");
    return chave.isEmpty() ? std::nullopt : std::optional<QString>(chave);
  }
  try {
    // Only read: an installation without a registry gets none made here.
    DbConnection db(LocalDatabase::path());
    const std::optional<ContribuinteDados> stored = TaxpayerStore::find(db, ie);
    const QString chave = stored ? stored->chave.trimmed() : QString();
    if (chave.isEmpty()) *erro = QStringLiteral("a inscrição %1 não tem chave de acesso no cadastro local.").arg(ie);
    return chave.isEmpty() ? std::nullopt : std::optional<QString>(chave);
  } catch (const DbError& e) {
    *erro = QStringLiteral("não foi possível ler o cadastro local (%1): %2").arg(LocalDatabase::path(), e.description);
    return std::nullopt;
  }
}

int run(CommandArgs args) {
  QString ie, format = QStringLiteral("texto");
  std::optional<QString> chaveArgumento;
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
      chaveArgumento = QString::fromUtf8(args[i]);
      ++positional;
    } else {
      return usageError(kTransmissoes, "argumentos demais.");
    }
  }
  if (positional == 0) return usageError(kTransmissoes, "informe a inscrição estadual.");

  CliApp app;
  // On a first use the data folder gets its default settings, as the window program gives it; without
  // it there are no settings and the exchange below fails as with a missing diziz.ini.
  if (QString error; !AppFolder::prepare(&error)) put(stderr, QStringLiteral("zide-cli: ") + error + QLatin1Char('\n'));
  InitSettingsPath();
  QString erro;
  const std::optional<QString> chaveObtida = obterChave(ie, chaveArgumento, &erro);
  if (!chaveObtida) {
    put(stderr, QStringLiteral("zide-cli: ") + erro + QLatin1Char('\n'));
    return kExitUsage;
  }
  const QString chave = *chaveObtida;
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
    "Uso: zide-cli transmissoes IE [CHAVE|-] [--formato texto|json]\n"
    "  A chave de acesso: \"-\" a lê da primeira linha da entrada padrão; sem ela, vale a chave do\n"
    "  contribuinte no cadastro local (diziz.db). Na linha de comando, a chave fica visível na lista de\n"
    "  processos para todos os usuários da máquina.\n"
    "  Consulta o servidor configurado em diziz.ini (na pasta de dados: ZIDE_HOME, a pasta do programa\n"
    "  quando ela tem um diziz.ini, ou ~/.local/share/zide) e mostra a data do\n"
    "  servidor, o ano de trabalho, se o programa está atualizado e uma linha por transmissão:\n"
    "  referência, data de processamento, protocolo, situação e endereço do protocolo.\n"
    "  Saída: 0 sucesso, 3 chave recusada, 4 servidor indisponível, 2 uso incorreto.\n"};
