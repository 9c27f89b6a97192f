// zide-sandbox: the municipality's server, played on 127.0.0.1 (see README.md).
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QRandomGenerator>
#include <cstdio>

#include "sandboxdata.h"
#include "sandboxserver.h"

namespace {
int fail(const QString& text) {
  fprintf(stderr, "zide-sandbox: %s\n", qPrintable(text));
  return 2;
}

bool parseFalha(const QString& text, SandboxConfig* cfg) {
  const QStringList parts = text.split(':');
  static const QMap<QString, Falha> modes = {{"recusar", Falha::Recusar},
                                             {"fechar-no-envio", Falha::FecharNoEnvio},
                                             {"silencio", Falha::Silencio},
                                             {"lixo", Falha::Lixo},
                                             {"erro500", Falha::Erro500},
                                             {"dividir", Falha::Dividir},
                                             {"fechar-sem-resposta", Falha::FecharSemResposta}};
  if (!modes.contains(parts[0]) || parts.size() > 2) return false;
  cfg->falha = modes.value(parts[0]);
  cfg->falhaEm = parts.value(1);
  return cfg->falhaEm.isEmpty() || cfg->falhaEm == "soap" || cfg->falhaEm == "upload";
}

// Texts that go into attributes at fixed positions: no markup, no line breaks.
bool plain(const QString& s) {
  for (QChar c : s)
    if (c == '<' || c == '>' || c == '&' || c == '"' || c < ' ') return false;
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("zide-sandbox");
  QCommandLineParser cli;
  cli.setApplicationDescription("Servidor de demonstração da Prefeitura Municipal de Tavarel, só em 127.0.0.1.");
  cli.addHelpOption();
  cli.addOption({"porta", "Porta TCP (0 escolhe uma livre e a mostra como \"porta N\").", "N", "0"});
  cli.addOption({"dados", "Arquivo SQLite com os dados (criado se não existir).", "ARQUIVO", "zide-sandbox.db"});
  cli.addOption({"ano-trabalho", "Ano de trabalho, 9 caracteres.", "TEXTO", "2025/2026"});
  cli.addOption({"versao", "Versão mais recente do cliente (até 20 caracteres).", "TEXTO", "1.15.01"});
  cli.addOption({"data-servidor", "Data e hora fixas do servidor, dd/MM/yyyy HH:mm:ss (padrão: o relógio).", "TEXTO"});
  cli.addOption(
      {"contribuinte", "Contribuinte conhecido IE:CHAVE:CNPJ[:S] (S = Simples Nacional); repetível.", "DADOS"});
  cli.addOption({"falha",
                 "Falha simulada: recusar, fechar-no-envio, silencio, lixo, erro500, dividir, fechar-sem-resposta; "
                 "com :soap ou :upload só nesse tipo de pedido.",
                 "MODO"});
  cli.addOption({"orcamento-mb",
                 "Memória para os corpos pequenos (até 1 MiB) de todas as conexões juntas, em MiB (padrão 256); "
                 "um pedido que não cabe recebe HTTP 503. Corpos maiores vão para um arquivo temporário.",
                 "MIB", "256"});
  cli.addOption({"max-conexoes",
                 "Conexões abertas ao mesmo tempo (padrão 32); com todas tomadas, a que espera o cabeçalho há mais "
                 "de 5 s cede o lugar, senão a nova recebe HTTP 503.",
                 "N", "32"});
  cli.addOption({"prazo-cabecalho-s",
                 "Segundos que uma conexão tem para mandar o cabeçalho inteiro (padrão 10); depois, até 30 s "
                 "sem nenhum byte até o corpo chegar. Vencido o prazo, a conexão é fechada.",
                 "S", "10"});
  cli.addOption({"omitir-referencia",
                 "Aceita o upload, mas não grava a última referência dele (no Simples Nacional, nada); a resposta "
                 "as cita todas."});
  cli.process(app);

  SandboxConfig cfg;
  cfg.anoTrabalho = cli.value("ano-trabalho");
  cfg.versao = cli.value("versao");
  cfg.dataServidor = cli.value("data-servidor");
  cfg.omitirReferencia = cli.isSet("omitir-referencia");
  if (cfg.anoTrabalho.size() > 9 || !plain(cfg.anoTrabalho))
    return fail("--ano-trabalho: até 9 caracteres, sem marcação");
  if (cfg.versao.size() > 20 || !plain(cfg.versao)) return fail("--versao: até 20 caracteres, sem marcação");
  if (!cfg.dataServidor.isEmpty() && !QDateTime::fromString(cfg.dataServidor, "dd/MM/yyyy HH:mm:ss").isValid())
    return fail("--data-servidor: use dd/MM/yyyy HH:mm:ss");
  if (cli.isSet("falha") && !parseFalha(cli.value("falha"), &cfg)) return fail("--falha: modo desconhecido");
  bool numOk = false;
  cfg.orcamentoBytes = cli.value("orcamento-mb").toLongLong(&numOk) * 1024 * 1024;
  if (!numOk || cfg.orcamentoBytes <= 0 || cfg.orcamentoBytes > 64LL * 1024 * 1024 * 1024)
    return fail("--orcamento-mb: número de MiB maior que 0");
  cfg.maxConexoes = cli.value("max-conexoes").toInt(&numOk);
  if (!numOk || cfg.maxConexoes <= 0) return fail("--max-conexoes: número maior que 0");
  const int headSeconds = cli.value("prazo-cabecalho-s").toInt(&numOk);
  if (!numOk || headSeconds <= 0 || headSeconds > 3600) return fail("--prazo-cabecalho-s: de 1 a 3600 segundos");
  cfg.prazoCabecalhoMs = headSeconds * 1000;
  bool portOk = false;
  const uint port = cli.value("porta").toUInt(&portOk);
  if (!portOk || port > 65535) return fail("--porta: número de 0 a 65535");

  SandboxData data;
  QString error;
  if (!data.open(cli.value("dados"), &error)) return fail("--dados: " + error);
  for (const QString& spec : cli.values("contribuinte")) {
    const QStringList f = spec.split(':');
    if (f.size() < 3 || f.size() > 4 || f[0].isEmpty() || f[1].isEmpty() ||
        (f.size() == 4 && f[3] != "S" && f[3] != "N"))
      return fail("--contribuinte: use IE:CHAVE:CNPJ[:S] (" + spec + ")");
    data.putContribuinte({f[0], f[1], f[2], f.value(3) == "S"});
  }

  SandboxServer server(data, cfg);
  bool listening = false;
  if (port == 0) {
    // A free port at or below 32767: the client's upload takes no larger port number.
    for (int attempt = 0; attempt < 200 && !listening; ++attempt)
      listening = server.listen(quint16(QRandomGenerator::global()->bounded(20000, 32768)), &error);
  }
  if (!listening && !server.listen(quint16(port), &error)) return fail("não foi possível escutar: " + error);
  const unsigned announced = server.port();
  // Closed before the port is announced, so no client can slip in first.
  if (cfg.falha == Falha::Recusar && cfg.falhaEm.isEmpty()) server.stopListening();
  printf("porta %u\n", announced);
  fflush(stdout);
  fprintf(stderr, "zide-sandbox em http://127.0.0.1:%u/ dados %s\n", announced, qPrintable(cli.value("dados")));
  return app.exec();
}
