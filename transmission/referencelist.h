#pragma once
#include <QList>
#include <QString>

class DbConnection;

// The reference periods a declaration holds for one company, as the ZIDE window lists them.
struct ListedReference {
  QString id;          // ID_03003
  QString referencia;  // INICIO and FIM, each without "00:00:00", joined by " a "
  QString tipo;        // "Normal", "Substitutiva", or the row above's for any other SUBSTITUI
};

// From the working database the intake filled; empty when the company is not in it. The IE is a
// value, never SQL. Throws DbError.
QList<ListedReference> ListReferences(DbConnection& db, const QString& ie);
