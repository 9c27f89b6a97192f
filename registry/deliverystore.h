#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "registry/localdb.h"

// The journal of deliveries: every send attempt, what went and what the server said. Every statement
// on tblEnvio is here. Rows are only ever added: nothing in the program changes or deletes them.
namespace DeliveryStore {

struct Delivery {
  qint64 id = 0;
  QDateTime data;  // when the send began (local time)
  QString tipo;    // "ZIDE" or "SIMPLES"
  QString ie;
  QString razaoSocial;
  QString contador;     // the accountant's document as sent
  QString arquivo;      // the declaration's file name
  qint64 tamanho = 0;   // bytes sent as the file
  QString sha256;       // of exactly those bytes, lower-case hex
  QString referencias;  // "01/2025, 02/2025" (empty for the Simples Nacional)
  int httpStatus = 0;   // 0: no HTTP answer
  QByteArray resposta;  // the answer's first bytes (kAnswerLimit)
  QString veredito;     // "registrado", "recusado", ...
  QString protocolos;   // the protocols confirmed, "N, M"
  QString tabelas;      // rows kept and left out per table of the company's copy (CompanyCopySummary)
};

constexpr qsizetype kAnswerLimit = 4096;

// The table, when the registry does not have it yet (a fresh file, or one from before the journal),
// and the columns added since (a journal from before them keeps its rows).
void ensure(DbConnection& db);
// Adds the row (the answer cut to kAnswerLimit) and returns its id.
qint64 add(DbConnection& db, const Delivery& d);
// The rows of one company (all, with an empty IE), newest first; none when the table is missing
// (it is not created by reading).
QList<Delivery> list(DbConnection& db, const QString& ie = QString());

}  // namespace DeliveryStore
