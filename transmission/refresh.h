#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "transmission/transmissions.h"

// The refresh of the selected taxpayer: one "Transferencia.ver2" request and what its answer means.
// The main window and the command line both present this result, so they give the same verdict.
namespace Refresh {

enum class Status {
  Ok,           // list, server date and working year read
  InvalidKey,   // the result is the invalid-key marker
  Refused,      // "CHAVE_I" in the result or elsewhere in the answer
  Unavailable,  // no exchange, no result, a result that is no list, or a date that cannot be read
};

// One message box of the refresh, with the verdict it tells.
struct Notice {
  Status kind;
  QString text;
};

struct Result {
  Status status = Status::Unavailable;  // the last verdict reached
  QList<Notice> notices;                // the message boxes, in order
  // The new content of the list: nullopt leaves the list as it was (no answer, invalid key).
  std::optional<QList<Transmissions::Row>> rows;
  // The answer rejects the key: the selection is cleared.
  bool clearSelection = false;
  // Whether the server's date, working year and version were read (always for Ok).
  bool serverRead = false;
  QDateTime serverDate;
  QString anoTrabalho;
  QString newestVersion;  // 20 characters, trailing blanks kept
  bool current = false;   // the answer names the installed version
};

inline const QString kServerDown = QStringLiteral("O Servidor está indisponivel, tente novamente mais tarde.");

// The list document alone, as the list reads it: invalid key, refusal, rows, or no list (Unavailable).
Result ReadList(const QString& listText);
// The whole answer: the raw response, its "return" text and the installed version file's text.
Result Read(const QString& rawResponse, const QString& result, const std::optional<QString>& versionText);
// Sends the request (the version file is read first) and reads the answer.
Result Fetch(const QString& ie, const QString& chave);

}  // namespace Refresh
