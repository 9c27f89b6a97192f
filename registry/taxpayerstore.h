#pragma once
#include <QList>
#include <QString>
#include <optional>

#include "registry/localdb.h"
#include "registry/registrylogic.h"

// Every statement on tblContribuinte, keyed by the IE, with the values bound. The windows, the
// company import, the transmit button and zide-cli all go through here.
namespace TaxpayerStore {

// Whether a row with this IE exists.
bool exists(DbConnection& db, const QString& ie);
// The row with this IE; nullopt when there is none.
std::optional<ContribuinteDados> find(DbConnection& db, const QString& ie);
// Which transmission the taxpayer makes: only a stored no (0) is the ZIDE of the Débito e Crédito
// regime; yes or no value at all is the Simples Nacional. nullopt when there is no such row.
enum class Regime { DebitoCredito, SimplesNacional };
std::optional<Regime> regime(DbConnection& db, const QString& ie);
// The number of rows.
int count(DbConnection& db);
// Every row, in the order the table returns them.
QList<ContribuinteDados> all(DbConnection& db);
// Stores the seven columns; OptanteSimples as the table's yes (-1) or no (0).
void insert(DbConnection& db, const ContribuinteDados& d);
// Rewrites every column but the IE of the row with d.ie; the number of rows changed.
int update(DbConnection& db, const ContribuinteDados& d);
// The number of rows deleted.
int remove(DbConnection& db, const QString& ie);

}  // namespace TaxpayerStore
