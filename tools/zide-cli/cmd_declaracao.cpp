// zide-cli declaracao ARQUIVO.GDB [--ie IE] [--saida ARQUIVO.mdb] [--formato texto|json]: the ZIDE
// window's intake without windows.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

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

int run(CommandArgs args) {
  QString gdb, ie, saida, format = QStringLiteral("texto");
  bool withIe = false;
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
      if (!value(&ie)) return usageError(kDeclaracao, "falta o valor de --ie.");
      withIe = true;
    } else if (a == "--saida") {
      if (!value(&saida) || saida.isEmpty()) return usageError(kDeclaracao, "falta o valor de --saida.");
    } else if (a == "--formato") {
      if (!value(&format)) return usageError(kDeclaracao, "falta o valor de --formato.");
      if (format != QLatin1String("texto") && format != QLatin1String("json"))
        return usageError(kDeclaracao, "formato desconhecido (use texto ou json).");
    } else if (a.starts_with("-") && a.size() > 1) {
      return usageError(kDeclaracao, "opção desconhecida: " + std::string(a) + ".");
    } else if (gdb.isEmpty()) {
      gdb = QString::fromUtf8(args[i]);
    } else {
      return usageError(kDeclaracao, "argumentos demais.");
    }
  }
  if (gdb.isEmpty()) return usageError(kDeclaracao, "informe o arquivo da declaração (.GDB).");

  int argc = 1;
  char name[] = "zide-cli";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  if (!QFileInfo(gdb).isFile()) {
    put(stderr, QStringLiteral("zide-cli: o arquivo %1 não foi encontrado.\n").arg(gdb));
    return kExitIo;
  }
  WorkSet work;
  if (!work.takeIn(gdb)) {
    put(stderr, QStringLiteral("zide-cli: não foi possível criar uma pasta temporária.\n"));
    return kExitIo;
  }
  const Intake::Settings& s = work.settings;
  const Intake::Outcome& outcome = work.outcome;
  if (!outcome.error.isEmpty()) {
    QString text = outcome.error;
    if (!outcome.details.isEmpty()) text += QStringLiteral("\r\n\r\nDetalhes: ") + outcome.details;
    put(stderr, QStringLiteral("zide-cli: não foi possível ler a declaração.\n%1\n")
                    .arg(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));
    return kExitIo;
  }

  QList<ListedReference> refs;
  if (withIe) {
    try {
      DbConnection db(s.workDb);
      refs = ListReferences(db, ie);
    } catch (const DbError& e) {
      put(stderr, QStringLiteral("zide-cli: %1\n").arg(e.description));
      return kExitIo;
    }
  }
  if (!saida.isEmpty()) {
    QFile::remove(saida);
    if (!QFile::copy(s.accessDb, saida)) {
      put(stderr, QStringLiteral("zide-cli: não foi possível gravar %1.\n").arg(saida));
      return kExitIo;
    }
  }

  if (format == QLatin1String("json")) {
    QJsonArray tables;
    for (const Intake::TableResult& t : outcome.tables) {
      QJsonObject reasons;
      for (auto it = t.reasons.cbegin(); it != t.reasons.cend(); ++it) reasons[it.key()] = it.value();
      tables.append(
          QJsonObject{{"tabela", t.table}, {"registros", t.rows}, {"perdidos", t.lost}, {"motivos", reasons}});
    }
    QJsonObject out{{"arquivo", gdb}, {"tabelas", tables}, {"perdidos", outcome.failedStatements}};
    QJsonArray unread;
    for (const auto& [table, reason] : outcome.lostTables)
      unread.append(QJsonObject{{"tabela", table}, {"motivo", reason}});
    out["tabelasPerdidas"] = unread;
    if (withIe) {
      QJsonArray list;
      for (const ListedReference& r : refs)
        list.append(QJsonObject{{"id", r.id}, {"referencia", r.referencia}, {"tipo", r.tipo}});
      out["ie"] = ie;
      out["referencias"] = list;
    }
    if (!saida.isEmpty()) out["saida"] = saida;
    put(stdout, QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Indented)));
  } else {
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
    if (withIe) {
      text += QStringLiteral("\nReferências da inscrição %1:\n").arg(ie);
      if (refs.isEmpty()) text += QStringLiteral("Erro: Arquivo não contém informações da empresa selecionada\n");
      else text += QStringLiteral("ID\tReferência\tTipo\n");
      for (const ListedReference& r : refs)
        text += r.id + QLatin1Char('\t') + r.referencia + QLatin1Char('\t') + r.tipo + QLatin1Char('\n');
    }
    if (!saida.isEmpty()) text += QStringLiteral("\nBanco de dados Access gravado em %1\n").arg(saida);
    put(stdout, text);
  }
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
