#include "transmission/referencelist.h"

#include <QSqlRecord>

#include "registry/localdb.h"

QList<ListedReference> ListReferences(DbConnection& db, const QString& ie) {
  QList<ListedReference> out;
  const QList<QSqlRecord> rows = db.query(
      QStringLiteral("select D.* from TAB03002 C inner join TAB03003 D on D.ID_03002 = C.ID_03002 WHERE C.IE = ?"),
      {ie});
  QString tipo;
  for (const QSqlRecord& r : rows) {
    QString inicio = r.value(QStringLiteral("INICIO")).toString();
    QString fim = r.value(QStringLiteral("FIM")).toString();
    inicio.remove(QStringLiteral("00:00:00"));
    fim.remove(QStringLiteral("00:00:00"));
    const QString substitui = r.value(QStringLiteral("SUBSTITUI")).toString();
    if (substitui == QLatin1String("N")) tipo = QStringLiteral("Normal");
    else if (substitui == QLatin1String("S")) tipo = QStringLiteral("Substitutiva");
    out.append({r.value(QStringLiteral("ID_03003")).toString(), inicio + QStringLiteral(" a ") + fim, tipo});
  }
  return out;
}
