#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "transmission/referencewalk.h"
#include "transmission/transmissions.h"

// What became of one upload, judged from the server's own words: its answer first, then the list of
// transmissions fetched after it. A window shows the result; a command-line sender prints it. Nothing
// here opens a window or talks to the server.
namespace Verdict {

// Texts in an answer that mean the server took nothing.
const QStringList& RefusalMarkers();

// The answer's text as a person reads it: Windows-1252 decoded, the head, scripts and tags left out,
// entities decoded, blank lines dropped and blanks squeezed, one line per line of text.
QString PlainText(const QByteArray& answer);

// The answer without its status line and headers, when it carries them.
QByteArray Body(const QByteArray& answer);

struct AnswerReading {
  bool refused = false;
  QString reason;  // the server's own words: the lines that hold a marker, or its page for an error status
};
// httpStatus is the answer's status, 0 when no HTTP answer came. A status other than 2xx, or a
// marker anywhere in the answer, is a refusal.
AnswerReading ReadAnswer(int httpStatus, const QByteArray& answer);

// One reference of the send, and what the refreshed list says of it.
struct Reference {
  QString key;    // ID_03003 (empty for the Simples Nacional, which names no reference)
  QString month;  // "MM/aaaa" (empty for the Simples Nacional)
  bool confirmed = false;
  QString protocolo;  // the protocol the list shows for it, when confirmed
};

// Each reference sent counts as delivered only when the list after the send shows it with a
// protocol that was not in the list before, or with a date at or after the send (sentAt, on the
// server's clock, when known). An empty month stands for "any new row" (the Simples Nacional).
QList<Reference> Confirm(const QList<Reference>& sent, const QList<Transmissions::Row>& before,
                         const QList<Transmissions::Row>& after, const std::optional<QDateTime>& sentAt);
// The references of a ZIDE send, in the order sent.
QList<Reference> FromRows(const QList<ReferenceRow>& rows);

enum class Outcome {
  Confirmed,    // accepted, and every reference in the list
  Unconfirmed,  // accepted, but some reference is not in the list
  Refused,      // a marker, or a status other than 2xx
  NoAnswer,     // the request went out whole, no answer came (the list may still show it)
  NotSent,      // the request never went out whole
};
// The word the journal keeps for an outcome ("registrado", "recusado", ...).
QString OutcomeName(Outcome o);

struct Result {
  Outcome outcome = Outcome::NotSent;
  int httpStatus = 0;
  QString reason;               // the server's words (refusal), or the failure (not sent)
  QList<Reference> references;  // with their confirmation
  bool listRead = false;        // the list after the send could be read
  // Whether the window may close: only when every reference sent is confirmed.
  bool done() const { return outcome == Outcome::Confirmed; }
  // "2025000001, 2025000002": the protocols confirmed.
  QString protocols() const;
};

// Puts the reading of the answer and the confirmation together. answered: an HTTP answer was read
// whole; handedOver: the whole request reached the server's connection.
Result Judge(bool handedOver, bool answered, int httpStatus, const QByteArray& answer, const QList<Reference>& sent,
             const QList<Transmissions::Row>& before, const std::optional<QList<Transmissions::Row>>& after,
             const std::optional<QDateTime>& sentAt);

// One line per reference: "01/2025: registrada, protocolo N" or "01/2025: não consta na lista do servidor".
QString ReferenceLines(const Result& r);
// The message for the user (the Simples Nacional's marker messages are shown apart, before it).
// extra: lines about what was not sent (the year rule, references not sent again).
QString Message(const Result& r, const QString& extra = QString());

}  // namespace Verdict
