#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "registry/deliverystore.h"
#include "registry/localdb.h"
#include "transmission/transmissions.h"
#include "transmission/verdict.h"

// One send attempt from its start to the row in the journal: what goes, what the list held before,
// then the verdict (from the answer and the list after) written down. The windows and a command-line
// sender run the same steps; neither writes the journal any other way.
namespace Delivery {

struct Attempt {
  QString tipo;  // "ZIDE" or "SIMPLES"
  QString ie;
  QString razaoSocial;
  QString contador;
  QString arquivo;  // the declaration's name as the request carries it
  qint64 tamanho = 0;
  QString sha256;
  QList<Verdict::Reference> references;      // sent (for the Simples Nacional, one without a month)
  QDateTime startedAt;                       // local clock
  std::optional<QDateTime> serverStartedAt;  // the server's clock, when known
  QList<Transmissions::Row> before;          // the list of transmissions before the send
  QString tabelas;                           // the company's copy: rows kept and left out per table
};

// Size and SHA-256 of exactly the bytes that go as the file: the first `size` bytes of the open
// device, read in slices so a large declaration never sits whole in memory. The device is left at
// its start for the upload; false (and nothing set) when it cannot be read that far.
bool Fingerprint(QIODevice* file, qint64 size, Attempt* a);

struct Result {
  Verdict::Result verdict;
  qint64 journalId = 0;
  std::optional<DbError> journalError;  // the row could not be written
};

// Judges the attempt (Verdict::Judge) and adds its row to the journal. failure: why no answer came,
// or why the request never went out whole (kept as the verdict's reason).
Result Conclude(const Attempt& a, bool handedOver, bool answered, int httpStatus, const QByteArray& answer,
                const std::optional<QList<Transmissions::Row>>& after, const QString& failure = QString());
// The same on a given connection (tests, and callers that already hold one).
Result Conclude(DbConnection& db, const Attempt& a, bool handedOver, bool answered, int httpStatus,
                const QByteArray& answer, const std::optional<QList<Transmissions::Row>>& after,
                const QString& failure = QString());

}  // namespace Delivery
