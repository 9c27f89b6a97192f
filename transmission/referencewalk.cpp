#include "transmission/referencewalk.h"

QString ReferenceYear(const QString& text) { return text.trimmed().right(4); }

ReferenceWalk WalkReferences(const QList<ReferenceRow>& rows, bool downwards, const QString& anoTrabalho,
                             bool* msgTrabalho) {
  ReferenceWalk walk;
  for (const ReferenceRow& row : rows) {
    const QString year = ReferenceYear(row.text);
    // A row without a period names no year, so it is never taken as accepted.
    if (!year.isEmpty() && anoTrabalho.contains(year, Qt::CaseSensitive)) {
      walk.gias << row.key;
    } else if (!*msgTrabalho) {
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
