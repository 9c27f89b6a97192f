#include "transmission/referencewalk.h"

#include <QDate>

QString ReferenceYear(const QString& text) { return text.trimmed().right(4); }

ReferenceWalk WalkReferences(const QList<ReferenceRow>& rows, bool downwards, const QString& anoTrabalho,
                             bool* msgTrabalho) {
  ReferenceWalk walk;
  for (const ReferenceRow& row : rows) {
    const QString year = ReferenceYear(row.text);
    // A row without a period names no year, so it is never taken as accepted.
    if (!year.isEmpty() && anoTrabalho.contains(year, Qt::CaseSensitive)) {
      walk.gias << row.key;
      walk.accepted << row;
      continue;
    }
    walk.refused << row;
    if (!*msgTrabalho) {
      *msgTrabalho = true;
      walk.message = downwards ? QStringLiteral(
                                     "Você deverá consultar a administração para saber quais documentos "
                                     "poderão ser aceitos. ") +
                                     anoTrabalho
                               : QStringLiteral("Somente serão aceitas GIAS de ") + anoTrabalho;
    }
  }
  return walk;
}

QString ReferenceMonth(const QString& text) {
  const QString t = text.trimmed();
  const QDate d = QDate::fromString(t.left(10), QStringLiteral("dd/MM/yyyy"));
  return d.isValid() ? d.toString(QStringLiteral("MM/yyyy")) : t;
}

QList<ReferenceRow> AlreadyTransmitted(const QList<ReferenceRow>& rows, const QStringList& transmitted) {
  QList<ReferenceRow> out;
  for (const ReferenceRow& row : rows) {
    const QString month = ReferenceMonth(row.text);
    for (const QString& t : transmitted) {
      if (QString(t).remove(QLatin1Char(' ')) != month) continue;
      out << row;
      break;
    }
  }
  return out;
}

namespace {
QString months(const QList<ReferenceRow>& rows) {
  QStringList out;
  for (const ReferenceRow& row : rows) out << ReferenceMonth(row.text);
  return out.join(QStringLiteral(", "));
}
}  // namespace

QString LeftOutSummary(const QList<ReferenceRow>& refused, const QList<ReferenceRow>& notResent,
                       const QString& anoTrabalho) {
  QStringList lines;
  if (!refused.isEmpty())
    lines << QStringLiteral("Não enviadas, por serem de ano que a prefeitura não aceita agora (") + anoTrabalho +
                 QStringLiteral("): ") + months(refused) + QLatin1Char('.');
  if (!notResent.isEmpty())
    lines << QStringLiteral("Não enviadas de novo, por já constarem na lista de transmissões: ") + months(notResent) +
                 QLatin1Char('.');
  return lines.join(QStringLiteral("\r\n"));
}
