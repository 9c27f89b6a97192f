#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "net/upload.h"
#include "transmission/companycopy.h"
#include "transmission/delivery.h"
#include "transmission/intake.h"
#include "transmission/referencewalk.h"
#include "transmission/transmissions.h"

// One company's upload of a declaration, as the ZIDE window and `zide-cli enviar` both run it: the
// company's copy of the working declaration, the address, the request and its fingerprint, and in
// the end (Delivery::Conclude) the verdict and the journal row. The window drives the socket with
// its own progress; the command line waits for it here. Nothing here shows anything.
namespace CompanyUpload {

// "scheme://host:port" + target, host and port read afresh from the settings; an unknown protocol
// gives a scheme the upload refuses, never a silent plain-text send.
QString ServerUrl(const QString& target);
// The ZIDE upload address: the accountant's document, the company's key and the references' keys.
QString ZideUrl(const QString& accountant, const QString& chave, const QStringList& gias);
// The Simples Nacional upload address (it names no reference).
QString SimplesUrl(const QString& accountant, const QString& chave);

// The company's part of the working declaration, written beside zide.mdb as zide_envio.mdb. A
// working set without zide.mdb (gone, emptied) is not whole: `path` is then zide.mdb itself, which
// the send refuses with its own message, and the result is empty.
struct Copy {
  QString path;
  CompanyCopyResult result;
  bool ok() const { return result.ok(); }
};
Copy WriteCopy(const Intake::Settings& work, const QString& ie);

// What the journal keeps of a copy: "TAB03002: 2 mantidas, 1 fora; ..." for every table.
QString CopySummary(const CompanyCopyResult& report);

// The request, ready to go, or why not.
enum class OpenStatus { Ok, BadAddress, Unreadable, Empty, FingerprintFailed };
struct Opened {
  OpenStatus status = OpenStatus::Ok;
  QString error;  // the address's complaint, or the system's reason the file could not be read
  std::optional<UploadTarget> target;
  std::optional<UploadRequest> request;
};
// Resolves the address, opens the content as the "objArquivo" part named fileName and puts the size
// and SHA-256 of exactly those bytes into *a.
Opened Open(const QString& url, const QString& contentPath, const QString& fileName, Delivery::Attempt* a);

// Why no answer came once the whole request had gone out, for the verdict.
QString FailureAfterHandOver(int errorNumber);

// The socket's part, waited for: what the uploader reported.
struct Exchange {
  bool handedOver = false;  // the whole request reached the connection
  bool answered = false;    // an answer came whole
  int httpStatus = 0;
  QByteArray answer;
  QString failure;  // why not, when it did not
  int errorNumber = 0;
};
// Sends and waits for the answer or the failure, events running (a signal handler's flag is seen
// only after it returns: an upload is never cut in the middle).
Exchange SendAndWait(const UploadTarget& target, UploadRequest request);

// The references a command-line send takes from those a declaration lists for a company: `wanted`
// months ("MM/aaaa") when given, else all of them; only years the server accepts now. Unless
// `resend`, months the server's list already shows are left out (skipped).
struct Choice {
  QList<ReferenceRow> accepted;
  QList<ReferenceRow> wrongYear;
  QList<ReferenceRow> alreadySent;
  QStringList missing;  // wanted months the declaration does not hold for the company
  QStringList gias() const;
};
Choice ChooseReferences(const QList<ReferenceRow>& listed, const QStringList& wanted, bool resend,
                        const QString& anoTrabalho, const QStringList& transmitted);

}  // namespace CompanyUpload
