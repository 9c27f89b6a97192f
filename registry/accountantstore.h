#pragma once
#include <QStringList>
#include <functional>
#include <optional>

#include "registry/localdb.h"
#include "registry/registrylogic.h"

// Every statement on tblContador, with the values bound. The installation keeps at most one
// accountant; the windows, the main window's checks and the migration all go through here.
namespace AccountantStore {

// The table and its twelve columns in the order of ContadorDados; an earlier installation's Access
// file has the same ones.
inline const QString kTable = QStringLiteral("tblContador");
const QStringList& columns();
// An accountant from a row read elsewhere: value gives the text of each of columns().
ContadorDados fromColumns(const std::function<QString(const QString&)>& value);

// Whether an accountant is stored.
bool exists(DbConnection& db);
// The stored accountant (the first row); nullopt when there is none. Null columns read as empty.
std::optional<ContadorDados> find(DbConnection& db);
// Stores the twelve columns; a null QString is stored as Null.
void insert(DbConnection& db, const ContadorDados& d);
// Replaces the stored accountant in one transaction: a failed insert leaves the old row. Throws DbError.
void replace(DbConnection& db, const ContadorDados& d);
// Deletes the stored accountant; the number of rows deleted.
int remove(DbConnection& db);

}  // namespace AccountantStore
