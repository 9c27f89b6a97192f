// zide-cli declaracao ARQUIVO.GDB [--ie IE] [--saida ARQUIVO.mdb] [--formato texto|json]: the ZIDE
// window's intake without windows.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "registry/localdb.h"
#include "transmission/intake.h"
#include "transmission/referencelist.h"
#include "workset.h"

namespace {

constexpr int kExitLost = 1;

void put(std::FILE* to, const QString& text) { std::fputs(text.toUtf8().constData(), to); }

QString lostText(const Intake::TableResult& t) {
  QStringList why;
  for (auto it = t.reasons.cbegin(); it != t.reasons.cend(); ++it)
    why << QStringLiteral("%1 (%2)").arg(it.key()).arg(it.value());
  return QStringLiteral("%1 não carregado(s): %2").arg(t.lost).arg(why.join(QStringLiteral("; ")));
}

struct Options {
  QString gdb, ie, saida, format = QStringLiteral("texto");
  bool withIe = false;
};

// The command line into `o`; an exit status when the command ends here (help or a usage error).
std::optional<int> parseOptions(CommandArgs args, Options* o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (isHelpRequest(a)) {
      std::fputs(kDeclaracao.usage, stdout);
      return kExitOk;
    }
    auto value = [&](QString* to) {
      if (i + 1 >= args.size()) return false;
      *to = QString::fromUtf8(args[++i]);
      return true;
    };
    if (a == "--ie") {
      if (!value(&o->ie)) return usageError(kDeclaracao, "falta o valor de --ie.");
      o->withIe = true;
    } else if (a == "--saida") {
      if (!value(&o->saida) || o->saida.isEmpty()) return usageError(kDeclaracao, "falta o valor de --saida.");
    } else if (a == "--formato") {
      if (!value(&o->format)) return usageError(kDeclaracao, "falta o valor de --formato.");
      if (o->format != QLatin1String("texto") && o->format != QLatin1String("json"))
        return usageError(kDeclaracao, "formato desconhecido (use texto ou json).");
    } else if (a.starts_with("-") && a.size() > 1) {
      return usageError(kDeclaracao, "opção desconhecida: " + std::string(a) + ".");
    } else if (o->gdb.isEmpty()) {
      o->gdb = QString::fromUtf8(args[i]);
    } else {
      return usageError(kDeclaracao, "argumentos demais.");
    }
  }
  if (o->gdb.isEmpty()) return usageError(kDeclaracao, "informe o arquivo da declaração (.GDB).");
  return std::nullopt;
}

QString jsonReport(const Options& o, const Intake::Result& outcome, const QList<ListedReference>& refs) {
  QJsonArray tables;
  for (const Intake::TableResult& t : outcome.tables) {
    QJsonObject reasons;
    for (auto it = t.reasons.cbegin(); it != t.reasons.cend(); ++it) reasons[it.key()] = it.value();
    tables.append(QJsonObject{{"tabela", t.table}, {"registros", t.rows}, {"perdidos", t.lost}, {"motivos", reasons}});
  }
  QJsonObject out{{"arquivo", o.gdb}, {"tabelas", tables}, {"perdidos", outcome.failedStatements}};
  QJsonArray unread;
  for (const auto& [table, reason] : outcome.lostTables)
    unread.append(QJsonObject{{"tabela", table}, {"motivo", reason}});
  out["tabelasPerdidas"] = unread;
  if (o.withIe) {
    QJsonArray list;
    for (const ListedReference& r : refs)
      list.append(QJsonObject{{"id", r.id}, {"referencia", r.referencia}, {"tipo", r.tipo}});
    out["ie"] = o.ie;
    out["referencias"] = list;
  }
  if (!o.saida.isEmpty()) out["saida"] = o.saida;
  return QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Indented));
}

QString textReport(const Options& o, const Intake::Result& outcome, const QList<ListedReference>& refs) {
  QString text = QStringLiteral("Tabela           Registros\n");
  for (const Intake::TableResult& t : outcome.tables) {
    text += t.table.leftJustified(16) + QLatin1Char(' ') + QString::number(t.rows).rightJustified(9);
    if (t.lost > 0) text += QStringLiteral("   ") + lostText(t);
    text += QLatin1Char('\n');
  }
  for (const auto& [table, reason] : outcome.lostTables)
    text += table.leftJustified(16) + QStringLiteral("   não lida: ") + reason + QLatin1Char('\n');
  if (outcome.failedStatements > 0)
    text +=
        QStringLiteral("\n%1 registro(s) da declaração não puderam ser carregados.\n").arg(outcome.failedStatements);
  if (o.withIe) {
    text += QStringLiteral("\nReferências da inscrição %1:\n").arg(o.ie);
    if (refs.isEmpty()) text += QStringLiteral("Erro: Arquivo não contém informações da empresa selecionada\n");
    else text += QStringLiteral("ID\tReferência\tTipo\n");
    for (const ListedReference& r : refs)
      text += r.id + QLatin1Char('\t') + r.referencia + QLatin1Char('\t') + r.tipo + QLatin1Char('\n');
  }
  if (!o.saida.isEmpty()) text += QStringLiteral("\nBanco de dados Access gravado em %1\n").arg(o.saida);
  return text;
}

int run(CommandArgs args) {
  Options o;
  if (const std::optional<int> done = parseOptions(args, &o)) return *done;

  CliApp app;
  if (!QFileInfo(o.gdb).isFile()) {
    put(stderr, QStringLiteral("zide-cli: o arquivo %1 não foi encontrado.\n").arg(o.gdb));
    return kExitIo;
  }
  WorkSet work;
  if (!work.takeIn(o.gdb)) {
    put(stderr, QStringLiteral("zide-cli: não foi possível criar uma pasta temporária.\n"));
    return kExitIo;
  }
  const Intake::Settings& s = work.settings;
  const Intake::Result& outcome = work.outcome;
  if (!outcome.error.isEmpty()) {
    QString text = outcome.error;
    if (!outcome.details.isEmpty()) text += QStringLiteral("\r\n\r\nDetalhes: ") + outcome.details;
    put(stderr, QStringLiteral("zide-cli: não foi possível ler a declaração.\n%1\n")
                    .arg(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));
    return kExitIo;
  }

  QList<ListedReference> refs;
  if (o.withIe) {
    try {
      DbConnection db(s.workDb);
      refs = ListReferences(db, o.ie);
    } catch (const DbError& e) {
      put(stderr, QStringLiteral("zide-cli: %1\n").arg(e.description));
      return kExitIo;
    }
  }
  if (!o.saida.isEmpty()) {
    QFile::remove(o.saida);
    if (!QFile::copy(s.accessDb, o.saida)) {
      put(stderr, QStringLiteral("zide-cli: não foi possível gravar %1.\n").arg(o.saida));
      return kExitIo;
    }
  }
  put(stdout, o.format == QLatin1String("json") ? jsonReport(o, outcome, refs) : textReport(o, outcome, refs));
  return outcome.failedStatements > 0 || !outcome.lostTables.isEmpty() ? kExitLost : kExitOk;
}

}  // namespace

const Command kDeclaracao = {
    "declaracao", run, "lê uma declaração ZIDE (.GDB) como a janela de transmissão",
    "Uso: zide-cli declaracao ARQUIVO.GDB [--ie IE] [--saida ARQUIVO.mdb] [--formato texto|json]\n"
    "\n"
    "Converte a declaração como a janela de transmissão ZIDE e mostra cada tabela com a quantidade\n"
    "de registros (e, para os que não puderam ser carregados, quantos e por quê).\n"
    "  --ie IE          lista também as referências dessa empresa (ID, Referência, Tipo)\n"
    "  --saida ARQUIVO  grava ali o banco de dados Access (.mdb) que seria enviado\n"
    "  --formato        texto (padrão) ou json\n"
    "\n"
    "Saída: 0 tudo carregado; 1 registros perdidos; 2 uso incorreto; 3 o arquivo não pôde ser lido.\n"};
