// zide-cli enviar: which companies go, and what became of each.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "enviar.h"
#include "registry/localdb.h"
#include "transmission/referencelist.h"

namespace {
QStringList monthsOf(const QList<ReferenceRow>& rows) {
  QStringList out;
  for (const ReferenceRow& r : rows) out << ReferenceMonth(r.text);
  return out;
}

void complain(const QString& text) {
  std::fputs((QStringLiteral("zide-cli: ") + text + '\n').toUtf8().constData(), stderr);
}

const char* key(CompanyState s) {
  switch (s) {
    case CompanyState::Confirmed: return "confirmada";
    case CompanyState::Unconfirmed: return "nao_confirmada";
    case CompanyState::Refused: return "recusada";
    case CompanyState::NotSent: return "nao_enviada";
    case CompanyState::Simulated: return "simulada";
    case CompanyState::Skipped: break;
  }
  return "ignorada";
}
}  // namespace

void CompanyResult::takeChoice(const CompanyUpload::Choice& c, const QString& anoTrabalho) {
  references = monthsOf(c.accepted);
  for (const QString& m : monthsOf(c.wrongYear))
    skipped << m + QStringLiteral(" (ano não aceito: ") + anoTrabalho + ')';
  for (const QString& m : monthsOf(c.alreadySent)) skipped << m + QStringLiteral(" (já consta na lista)");
  for (const QString& m : c.missing) skipped << m + QStringLiteral(" (não está no arquivo)");
  if (c.accepted.isEmpty()) reason = QStringLiteral("nenhuma referência a enviar");
}

void CompanyResult::takeVerdict(const Verdict::Result& v) {
  protocols = v.protocols();
  reason = v.reason;
  switch (v.outcome) {
    case Verdict::Outcome::Confirmed: state = CompanyState::Confirmed; break;
    case Verdict::Outcome::Refused: state = CompanyState::Refused; break;
    case Verdict::Outcome::NotSent: state = CompanyState::NotSent; break;
    default: state = CompanyState::Unconfirmed;
  }
  if (state == CompanyState::Unconfirmed && reason.isEmpty()) reason = Verdict::ReferenceLines(v);
}

QString CompanyResult::stateText() const {
  QString text;
  switch (state) {
    case CompanyState::Confirmed: text = QStringLiteral("enviada e confirmada"); break;
    case CompanyState::Unconfirmed: text = QStringLiteral("enviada, não confirmada"); break;
    case CompanyState::Refused: text = QStringLiteral("recusada"); break;
    case CompanyState::NotSent: text = QStringLiteral("não enviada"); break;
    case CompanyState::Simulated: text = QStringLiteral("seria enviada (simulação)"); break;
    case CompanyState::Skipped: text = QStringLiteral("ignorada"); break;
  }
  if (!references.isEmpty()) text += QStringLiteral(" [") + references.join(QStringLiteral(", ")) + ']';
  if (!protocols.isEmpty()) text += QStringLiteral(" protocolos ") + protocols;
  if (!reason.isEmpty())
    text += QStringLiteral(": ") + QString(reason).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  return text;
}

int CheckSetup(const EnviarOptions& o, const QList<ContribuinteDados>& companies, const QString& accountant) {
  if (accountant.isEmpty()) {
    complain(QStringLiteral("cadastre o contador antes de enviar (janela Contador, F6)."));
    return kExitUsage;
  }
  if (!o.todasEmpresas && companies.isEmpty()) {
    complain(QStringLiteral("a inscrição %1 não está no cadastro local.").arg(o.ie));
    return kExitUsage;
  }
  if (!o.todasEmpresas && companies.first().chave.trimmed().isEmpty()) {
    complain(QStringLiteral("a inscrição %1 não tem chave de acesso no cadastro local.").arg(o.ie));
    return kExitUsage;
  }
  if (!o.todasEmpresas && companies.first().optanteSimples != o.simples) {
    complain(o.simples ? QStringLiteral("a inscrição %1 não é do Simples Nacional; envie o arquivo .GDB.").arg(o.ie)
                       : QStringLiteral("a inscrição %1 é do Simples Nacional; use --simples ARQUIVO.pdf.").arg(o.ie));
    return kExitUsage;
  }
  if (QString why; !o.senhaArquivo.isEmpty() && !ReadPassword(o.senhaArquivo, &why)) {
    complain(why);
    return kExitUsage;
  }
  return -1;
}

QList<ContribuinteDados> ListedCompanies(const QList<ContribuinteDados>& companies, const QString& workDb,
                                         QList<CompanyResult>* skipped) {
  QList<ContribuinteDados> out;
  DbConnection db(workDb);
  for (const ContribuinteDados& c : companies) {
    if (!ListReferences(db, c.ie).isEmpty()) {
      out << c;
      continue;
    }
    CompanyResult r;
    r.ie = c.ie;
    r.razaoSocial = c.razaoSocial;
    r.reason = QStringLiteral("Erro: Arquivo não contém informações da empresa selecionada");
    skipped->append(r);
  }
  return out;
}

QString ResultsTable(const QList<CompanyResult>& results, bool interrupted) {
  QString out = QStringLiteral("IE             Empresa                         Resultado\n");
  for (const CompanyResult& r : results) {
    out += r.ie.leftJustified(14) + ' ' + r.razaoSocial.left(31).leftJustified(31) + ' ' + r.stateText() + '\n';
    if (!r.skipped.isEmpty()) out += QString(47, ' ') + QStringLiteral("fora: ") + r.skipped.join(", ") + '\n';
  }
  if (interrupted)
    out += QStringLiteral("\nInterrompido (Ctrl+C): as empresas marcadas \"não enviada\" não foram enviadas.\n");
  return out;
}

QString ResultsJson(const QList<CompanyResult>& results, bool interrupted) {
  QJsonArray list;
  for (const CompanyResult& r : results)
    list.append(QJsonObject{{"ie", r.ie},
                            {"razaoSocial", r.razaoSocial},
                            {"resultado", QString::fromLatin1(key(r.state))},
                            {"referencias", QJsonArray::fromStringList(r.references)},
                            {"foraDoEnvio", QJsonArray::fromStringList(r.skipped)},
                            {"protocolos", r.protocols},
                            {"motivo", r.reason},
                            {"bytes", r.bytes}});
  return QString::fromUtf8(
      QJsonDocument(QJsonObject{{"empresas", list}, {"interrompido", interrupted}}).toJson(QJsonDocument::Indented));
}

int ExitStatus(const QList<CompanyResult>& results, bool serverDown) {
  if (serverDown) return 4;
  for (const CompanyResult& r : results)
    if (r.state == CompanyState::Refused || r.state == CompanyState::Unconfirmed || r.state == CompanyState::NotSent)
      return 1;
  return kExitOk;
}
