// zide-cli enviar: the ZIDE and Simples Nacional windows' delivery without windows, for one company
// or for every registered company a declaration file holds. Same routines as the windows: intake,
// year rule, company copy, upload, the server's verdict and the journal.
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <csignal>
#include <cstdio>

#include "base/appfolder.h"
#include "base/cp1252.h"
#include "base/instancelock.h"
#include "base/settings.h"
#include "commands.h"
#include "enviar.h"
#include "registry/accountantstore.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"
#include "transmission/referencelist.h"
#include "transmission/refresh.h"
#include "transmission/simplesanswer.h"
#include "workset.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
extern "C" void onInterrupt(int) { gStop = 1; }

void put(std::FILE* to, const QString& text) {
  std::fputs(text.toUtf8().constData(), to);
  std::fflush(to);
}

QString digitsOf(QString s) { return s.remove(QRegularExpression(QStringLiteral("\\D"))); }

// Every company to visit: the one named, or every registered one with a key.
bool loadCompanies(const EnviarOptions& o, QList<ContribuinteDados>* out, QString* accountant) {
  try {
    LocalDatabase::Connection db;
    if (const auto contador = AccountantStore::find(db)) *accountant = contador->cpfCnpj;
    for (const ContribuinteDados& c : TaxpayerStore::all(db))
      if (o.todasEmpresas ? !c.chave.trimmed().isEmpty() && !c.optanteSimples : digitsOf(c.ie) == digitsOf(o.ie))
        out->append(c);
  } catch (const DbError& e) {
    put(stderr, QStringLiteral("zide-cli: não foi possível ler o cadastro local: %1\n").arg(e.description));
    return false;
  }
  return true;
}

struct Run {
  EnviarOptions opts;
  QString accountant;  // as stored: the upload names it so
  std::optional<CertificateInfo> certificate;
  bool certificateChecked = false;
  QString certificateError;  // the certificate was refused: nothing goes
  bool serverDown = false;
  QList<CompanyResult> results;
};

// The certificate, once, against the first server date received.
bool certificateOk(Run& run, const QDateTime& serverDate, CompanyResult* r) {
  if (run.certificateChecked) return true;
  if (run.certificateError.isEmpty()) {
    run.certificate = ChooseCertificate(run.opts, digitsOf(run.accountant), serverDate, &run.certificateError);
    if (run.certificate) run.certificateError.clear();
  }
  if (!run.certificate) {
    r->state = CompanyState::NotSent;
    r->reason = run.certificateError;
    return false;
  }
  put(stderr, QStringLiteral("Certificado: %1 (%2)\n").arg(run.certificate->owner, run.certificate->thumbprint));
  run.certificateChecked = true;
  return true;
}

// The server's list now, or the reason it could not be read (the result then says it).
std::optional<Refresh::Result> refresh(Run& run, const ContribuinteDados& c, CompanyResult* r) {
  const Refresh::Result s = Refresh::Fetch(c.ie, c.chave);
  if (s.status == Refresh::Status::Ok) return s;
  QStringList texts;
  for (const Refresh::Notice& n : s.notices) texts << n.text;
  r->reason = texts.isEmpty() ? QStringLiteral("Acesso não autorizado") : texts.join(QLatin1Char(' '));
  r->state = s.status == Refresh::Status::Unavailable ? CompanyState::NotSent : CompanyState::Refused;
  if (s.status == Refresh::Status::Unavailable) run.serverDown = true;
  return std::nullopt;
}

// The upload of one prepared content, its verdict and its journal row.
void deliver(const ContribuinteDados& c, const Run& run, const QString& url, const QString& content,
             const QString& fileName, Delivery::Attempt a, const Refresh::Result& before, CompanyResult* r) {
  a.ie = c.ie;
  a.razaoSocial = c.razaoSocial;
  a.contador = run.accountant;
  a.before = *before.rows;
  a.startedAt = QDateTime::currentDateTime();
  a.serverStartedAt = before.serverDate;
  CompanyUpload::Opened opened = CompanyUpload::Open(url, content, fileName, &a);
  if (opened.status != CompanyUpload::OpenStatus::Ok) {
    r->state = CompanyState::NotSent;
    r->reason = opened.error.isEmpty() ? QStringLiteral("o arquivo a enviar está vazio") : opened.error;
    return;
  }
  r->bytes = opened.request->fileSize;
  put(stderr, QStringLiteral("  enviando %1 (%2 bytes)...\n")
                  .arg(r->references.isEmpty() ? a.arquivo : r->references.join(QStringLiteral(", ")))
                  .arg(r->bytes));
  const CompanyUpload::Exchange x = CompanyUpload::SendAndWait(*opened.target, std::move(*opened.request));
  std::optional<QList<Transmissions::Row>> after;
  if (x.handedOver) {
    const Refresh::Result s = Refresh::Fetch(c.ie, c.chave);
    if (s.rows) after = s.rows;
  }
  const bool read = x.answered && x.httpStatus != 0;
  const Delivery::Result o = Delivery::Conclude(a, x.handedOver, read, x.httpStatus, x.answer, after, x.failure);
  r->takeVerdict(o.verdict);
  if (a.tipo == QLatin1String("SIMPLES") && read) {
    const QStringList markers = SimplesRefusalMessages(fromCp1252(x.answer));
    if (!markers.isEmpty()) r->reason = markers.join(QLatin1Char(' '));
  }
  if (o.journalError)
    r->reason += QStringLiteral(" (diário de envios não gravado: %1)").arg(o.journalError->description);
}

void sendZide(Run& run, const ContribuinteDados& c, const WorkSet& work, CompanyResult* r) {
  std::optional<Refresh::Result> s = refresh(run, c, r);
  if (!s) return;
  QList<ReferenceRow> listed;
  try {
    DbConnection db(work.settings.workDb);
    for (const ListedReference& l : ListReferences(db, c.ie)) listed << ReferenceRow{l.id, l.referencia};
  } catch (const DbError& e) {
    r->reason = e.description;
    return;
  }
  QStringList transmitted;
  for (const Transmissions::Row& t : *s->rows) transmitted << t.referencia.trimmed();
  const CompanyUpload::Choice choice =
      CompanyUpload::ChooseReferences(listed, run.opts.referencias, run.opts.resend(), s->anoTrabalho, transmitted);
  r->takeChoice(choice, s->anoTrabalho);
  if (choice.accepted.isEmpty()) return;
  if (!certificateOk(run, s->serverDate, r)) return;
  if (run.opts.simular) {
    r->state = CompanyState::Simulated;
    return;
  }
  const CompanyUpload::Copy copy = CompanyUpload::WriteCopy(work.settings, c.ie);
  if (!copy.ok()) {
    r->state = CompanyState::NotSent;
    r->reason = copy.result.error;
    return;
  }
  Delivery::Attempt a;
  a.tipo = QStringLiteral("ZIDE");
  a.arquivo = QFileInfo(run.opts.file).fileName();
  a.references = Verdict::FromRows(choice.accepted);
  a.tabelas = CompanyUpload::CopySummary(copy.result);
  deliver(c, run, CompanyUpload::ZideUrl(run.accountant, c.chave, choice.gias()), copy.path, a.arquivo, a, *s, r);
}

void sendSimples(Run& run, const ContribuinteDados& c, CompanyResult* r) {
  std::optional<Refresh::Result> s = refresh(run, c, r);
  if (!s || !certificateOk(run, s->serverDate, r)) return;
  r->references = QStringList{QFileInfo(run.opts.file).fileName()};
  if (run.opts.simular) {
    r->state = CompanyState::Simulated;
    return;
  }
  Delivery::Attempt a;
  a.tipo = QStringLiteral("SIMPLES");
  a.arquivo = QFileInfo(run.opts.file).fileName();
  a.references = {Verdict::Reference{}};  // any new row of the list confirms it
  deliver(c, run, CompanyUpload::SimplesUrl(run.accountant, c.chave), run.opts.file, a.arquivo, a, *s, r);
}

// Visits every company in turn; an interruption or a server that cannot be reached stops between two.
void visit(Run& run, const QList<ContribuinteDados>& companies, const WorkSet* work) {
  for (qsizetype i = 0; i < companies.size(); ++i) {
    const ContribuinteDados& c = companies[i];
    CompanyResult r;
    r.ie = c.ie;
    r.razaoSocial = c.razaoSocial;
    if (gStop || run.serverDown) {
      r.state = CompanyState::NotSent;
      r.reason =
          gStop ? QStringLiteral("interrompido (Ctrl+C) antes desta empresa") : QStringLiteral("servidor indisponível");
      run.results << r;
      continue;
    }
    put(stderr, QStringLiteral("[%1/%2] %3 (%4)\n").arg(i + 1).arg(companies.size()).arg(c.razaoSocial, c.ie));
    if (work) sendZide(run, c, *work, &r);
    else sendSimples(run, c, &r);
    put(stderr, QStringLiteral("  %1\n").arg(r.stateText()));
    run.results << r;
  }
}

// The declaration converted once for every company: -1, or the exit status when it cannot be sent
// whole (rows the window would ask about are never sent silently from here).
int takeIn(const QString& gdb, WorkSet* work) {
  if (!work->takeIn(gdb) || !work->outcome.error.isEmpty()) {
    put(stderr, QStringLiteral("zide-cli: não foi possível ler a declaração: %1\n").arg(work->outcome.error));
    return kExitIo;
  }
  const Intake::Result& o = work->outcome;
  if (o.failedStatements > 0 || !o.lostTables.isEmpty()) {
    put(stderr, QStringLiteral("zide-cli: a declaração não foi lida inteira (%1 registro(s), %2 tabela(s) "
                               "perdidos); nada foi enviado. Veja zide-cli declaracao %3\n")
                    .arg(o.failedStatements)
                    .arg(o.lostTables.size())
                    .arg(gdb));
    return kExitIo;
  }
  return -1;
}

int finish(const Run& run) {
  put(stdout, run.opts.json ? ResultsJson(run.results, gStop != 0) : ResultsTable(run.results, gStop != 0));
  return ExitStatus(run.results, run.serverDown);
}

int run(CommandArgs args) {
  Run run;
  if (const int status = ParseEnviar(args, &run.opts); status >= 0) return status;
  CliApp app;
  if (!QFileInfo(run.opts.file).isFile()) {
    put(stderr, QStringLiteral("zide-cli: o arquivo %1 não foi encontrado.\n").arg(run.opts.file));
    return kExitIo;
  }
  if (QString error; !AppFolder::prepare(&error)) put(stderr, QStringLiteral("zide-cli: ") + error + QLatin1Char('\n'));
  InitSettingsPath();
  // A send writes the journal and the working files: never beside the windows on the same data.
  InstanceLock lock;
  if (!run.opts.simular && !lock.acquire()) {
    put(stderr, QStringLiteral("zide-cli: o programa está aberto nesta pasta de dados (%1). Feche-o antes de enviar "
                               "pela linha de comando; nada foi enviado.\n")
                    .arg(AppFolder::path()));
    return kExitUsage;
  }
  QList<ContribuinteDados> companies;
  if (!loadCompanies(run.opts, &companies, &run.accountant)) return kExitIo;
  if (const int status = CheckSetup(run.opts, companies, run.accountant); status >= 0) return status;
  std::signal(SIGINT, onInterrupt);
  if (run.opts.simples) {
    visit(run, companies, nullptr);
    return finish(run);
  }
  put(stderr, QStringLiteral("Convertendo %1...\n").arg(run.opts.file));
  WorkSet work;
  if (const int status = takeIn(run.opts.file, &work); status >= 0) return status;
  try {
    visit(run, ListedCompanies(companies, work.settings.workDb, &run.results), &work);
  } catch (const DbError& e) {
    put(stderr, QStringLiteral("zide-cli: %1\n").arg(e.description));
    return kExitIo;
  }
  return finish(run);
}

}  // namespace

const Command kEnviar = {"enviar", run, "envia declarações de uma empresa ou de todas as de um arquivo", kEnviarUsage};
