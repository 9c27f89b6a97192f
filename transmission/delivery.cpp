#include "transmission/delivery.h"

#include <QCryptographicHash>
#include <QIODevice>
#include <QStringList>

namespace Delivery {

bool Fingerprint(QIODevice* file, qint64 size, Attempt* a) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file->seek(0)) return false;
  qint64 left = size;
  while (left > 0) {
    const QByteArray slice = file->read(qMin<qint64>(left, 256 * 1024));
    if (slice.isEmpty()) return false;
    hash.addData(slice);
    left -= slice.size();
  }
  if (!file->seek(0)) return false;
  a->tamanho = size;
  a->sha256 = QString::fromLatin1(hash.result().toHex());
  return true;
}

Result Conclude(DbConnection& db, const Attempt& a, bool handedOver, bool answered, int httpStatus,
                const QByteArray& answer, const std::optional<QList<Transmissions::Row>>& after,
                const QString& failure) {
  Result o;
  o.verdict =
      Verdict::Judge(handedOver, answered, httpStatus, answer, a.references, a.before, after, a.serverStartedAt);
  if (o.verdict.reason.isEmpty()) o.verdict.reason = failure;
  DeliveryStore::Delivery d;
  d.data = a.startedAt;
  d.tipo = a.tipo;
  d.ie = a.ie;
  d.razaoSocial = a.razaoSocial;
  d.contador = a.contador;
  d.arquivo = a.arquivo;
  d.tamanho = a.tamanho;
  d.sha256 = a.sha256;
  QStringList months;
  for (const Verdict::Reference& r : a.references)
    if (!r.month.isEmpty()) months << r.month;
  d.referencias = months.join(QStringLiteral(", "));
  d.httpStatus = answered ? httpStatus : 0;
  d.resposta = answer.left(DeliveryStore::kAnswerLimit);
  d.veredito = Verdict::OutcomeName(o.verdict.outcome);
  d.protocolos = o.verdict.protocols();
  d.tabelas = a.tabelas;
  try {
    o.journalId = DeliveryStore::add(db, d);
  } catch (const DbError& e) { o.journalError = e; }
  return o;
}

Result Conclude(const Attempt& a, bool handedOver, bool answered, int httpStatus, const QByteArray& answer,
                const std::optional<QList<Transmissions::Row>>& after, const QString& failure) {
  try {
    LocalDatabase::Connection db;
    return Conclude(db, a, handedOver, answered, httpStatus, answer, after, failure);
  } catch (const DbError& e) {
    Result o;
    o.verdict =
        Verdict::Judge(handedOver, answered, httpStatus, answer, a.references, a.before, after, a.serverStartedAt);
    if (o.verdict.reason.isEmpty()) o.verdict.reason = failure;
    o.journalError = e;
    return o;
  }
}

}  // namespace Delivery
