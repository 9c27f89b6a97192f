#pragma once
#include <QList>
#include <QString>
#include <QStringList>

// Which of the selected reference periods go to the server: those whose year the municipality
// accepts now (the working year the server handed out with the last refresh).

struct ReferenceRow {
  QString key;   // ID_03003
  QString text;  // "dd/mm/aaaa a dd/mm/aaaa"
};

struct ReferenceWalk {
  QStringList gias;              // accepted keys, in the order walked
  QList<ReferenceRow> accepted;  // their rows
  QList<ReferenceRow> refused;   // rows left out: a year the server does not take now
  QString message;               // the year message to show now, empty when none
};

// rows: the selected rows from the upper to the lower one. downwards: the selection ended below
// the row where it began. *msgTrabalho: whether the year message was already shown since the
// window loaded; set when this walk shows it.
ReferenceWalk WalkReferences(const QList<ReferenceRow>& rows, bool downwards, const QString& anoTrabalho,
                             bool* msgTrabalho);

// The year a reference text ends in: its last four characters once trimmed.
QString ReferenceYear(const QString& text);

// The month a reference period stands for in the list of transmissions ("MM/aaaa", from the
// first date of "dd/mm/aaaa a dd/mm/aaaa"); the trimmed text itself when it holds no such date.
QString ReferenceMonth(const QString& text);

// The accepted rows whose month the list of transmissions already shows.
QList<ReferenceRow> AlreadyTransmitted(const QList<ReferenceRow>& rows, const QStringList& transmitted);

// The lines about what a send left out: the months of a year the server does not take now, and
// those the user chose not to send again; empty when nothing was left out.
QString LeftOutSummary(const QList<ReferenceRow>& refused, const QList<ReferenceRow>& notResent,
                       const QString& anoTrabalho);
