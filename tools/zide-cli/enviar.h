#pragma once
// Pieces of `zide-cli enviar`: its options, the certificate, and the result of each company.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "commands.h"
#include "registry/certificates.h"
#include "registry/registrylogic.h"
#include "transmission/companyupload.h"
#include "transmission/verdict.h"

struct EnviarOptions {
  QString file;  // the declaration (.GDB), or the PDF with simples
  QString ie;
  QStringList referencias;  // "MM/aaaa"
  bool todas = false;
  bool todasEmpresas = false;
  bool simples = false;
  bool simular = false;
  bool json = false;
  QString certificado;   // SHA-1 or a file
  QString senhaArquivo;  // a file holding the PFX password
  // Months named, or all of them: the user chose them, so months already listed go again.
  bool resend() const { return todas || !referencias.isEmpty(); }
};

extern const char* const kEnviarUsage;
extern const Command kEnviar;

// -1 when the options are usable, else the exit status (after the message or the help).
int ParseEnviar(CommandArgs args, EnviarOptions* o);

// The accountant's certificate as the transmission windows accept it: the one named (SHA-1, or a
// PFX/PEM file opened and kept in the certificate folder as the windows do), else the newest one of
// any source that carries the accountant's document. nullopt with *why when there is none or it is
// refused.
std::optional<CertificateInfo> ChooseCertificate(const EnviarOptions& o, const QString& docContador,
                                                 const QDateTime& serverDate, QString* why);

// A PFX password: from --senha-arquivo (a regular file only its owner may read), else typed on the
// terminal without echo. nullopt with *why otherwise; never from the command line.
std::optional<QString> ReadPassword(const QString& senhaArquivo, QString* why);

enum class CompanyState { Confirmed, Unconfirmed, Refused, NotSent, Skipped, Simulated };

struct CompanyResult {
  QString ie, razaoSocial;
  CompanyState state = CompanyState::Skipped;
  QStringList references;  // sent, or to be sent ("MM/aaaa")
  QStringList skipped;     // "MM/aaaa (why)"
  QString protocols;
  QString reason;
  qint64 bytes = 0;
  void takeChoice(const CompanyUpload::Choice& c, const QString& anoTrabalho);
  void takeVerdict(const Verdict::Result& v);
  QString stateText() const;
};

// Stops before anything runs when the accountant or the company is missing: the exit status, or -1.
int CheckSetup(const EnviarOptions& o, const QList<ContribuinteDados>& companies, const QString& accountant);
// The companies the working declaration holds references for; the others go to *skipped.
QList<ContribuinteDados> ListedCompanies(const QList<ContribuinteDados>& companies, const QString& workDb,
                                         QList<CompanyResult>* skipped);

QString ResultsTable(const QList<CompanyResult>& results, bool interrupted);
QString ResultsJson(const QList<CompanyResult>& results, bool interrupted);
// 0 every send confirmed; 1 something refused, unconfirmed or not sent; 4 the server could not be reached.
int ExitStatus(const QList<CompanyResult>& results, bool serverDown);
