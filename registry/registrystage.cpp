#include "registry/registrystage.h"

#include <QFileInfo>

#include "registry/accountantstore.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"

RegistryStage ReadRegistryStage() {
  const QString file = LocalDatabase::path();
  if (!QFileInfo(file).isFile()) return RegistryStage::SemContador;
  try {
    // The file as it is: no schema and no first-use offer, which LocalDatabase::Connection would run.
    DbConnection db(file);
    if (!AccountantStore::exists(db)) return RegistryStage::SemContador;
    if (TaxpayerStore::count(db) == 0) return RegistryStage::SemContribuinte;
  } catch (const DbError&) {
    // An unreadable registry gives no guidance; its failure shows where the registry is used.
  }
  return RegistryStage::Pronto;
}
