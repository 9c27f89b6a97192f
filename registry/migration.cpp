#include "registry/migration.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlRecord>

#include "base/appfolder.h"
#include "registry/accountantstore.h"
#include "registry/deliverystore.h"
#include "registry/importaccess.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"

namespace Migracao {
namespace {

// The offer is remembered in the registry itself, so a fresh diziz.db offers again.
const QString kCriaMarca =
    QStringLiteral("CREATE TABLE IF NOT EXISTS tblMigracao (arquivo TEXT, resposta TEXT, data TEXT)");

const QStringList kColunasContribuinte = {QStringLiteral("IE"),   QStringLiteral("RazaoSocial"), QStringLiteral("Cnpj"),
                                          QStringLiteral("Cnae"), QStringLiteral("Chave"),       QStringLiteral("CCM")};

// Access keeps an absent text as Null; so does the copy (the stores bind a null QString as Null).
QString texto(const QString& v) { return v.isEmpty() ? QString() : v; }

int total(DbConnection& db, const QString& table) {
  return db.query(QStringLiteral("select count(0) as total from ") + table).first().value(0).toInt();
}

void marcarNo(DbConnection& db, const QString& resposta) {
  db.exec(kCriaMarca);
  db.exec(QStringLiteral("insert into tblMigracao (arquivo, resposta, data) values (?, ?, ?)"),
          {arquivoAnterior(), resposta, QDateTime::currentDateTime().toString(Qt::ISODate)});
}

}  // namespace

QString arquivoAnterior() { return AppFolder::file(QStringLiteral("diziz.mdb")); }

bool deveOferecer() {
  if (!QFileInfo(arquivoAnterior()).isFile()) return false;
  LocalDatabase::Connection db;
  db.exec(kCriaMarca);
  return total(db, QStringLiteral("tblMigracao")) == 0 && !AccountantStore::exists(db) && TaxpayerStore::count(db) == 0;
}

Result trazer(const QString& mdbPath) {
  const AccessTable contador = ReadAccessTable(mdbPath, AccountantStore::kTable);
  const AccessTable contribuintes = ReadAccessTable(mdbPath, QStringLiteral("tblContribuinte"));
  for (const QString& c : AccountantStore::columns())
    if (!contador.columns.contains(c, Qt::CaseInsensitive))
      throw AccessError(QStringLiteral("%1 sem a coluna %2").arg(AccountantStore::kTable, c));
  for (const QString& c : kColunasContribuinte + QStringList{QStringLiteral("OptanteSimples")})
    if (!contribuintes.columns.contains(c, Qt::CaseInsensitive))
      throw AccessError(QStringLiteral("tblContribuinte sem a coluna %1").arg(c));

  LocalDatabase::Connection db;
  Result r;
  if (!db.db().transaction()) throw DbError(-1, QStringLiteral("SQLite"), QStringLiteral("Transação recusada"));
  try {
    // The registry keeps at most one accountant.
    if (!contador.rows.isEmpty()) {
      AccountantStore::insert(
          db, AccountantStore::fromColumns([&](const QString& c) { return texto(contador.value(0, c)); }));
      r.contadores = 1;
    }
    for (int i = 0; i < contribuintes.rows.size(); ++i) {
      auto value = [&](const char* c) { return texto(contribuintes.value(i, QString::fromLatin1(c))); };
      // Access's yes is 1; the store keeps it as the windows expect it.
      TaxpayerStore::insert(db, {value("IE"), value("RazaoSocial"), value("Cnpj"), value("Cnae"), value("Chave"),
                                 value("CCM"), value("OptanteSimples") == QLatin1String("1")});
      ++r.contribuintes;
    }
    DeliveryStore::ensure(db);
    marcarNo(db, QStringLiteral("trazido"));
    if (!db.db().commit()) throw DbError(-1, QStringLiteral("SQLite"), QStringLiteral("Falha ao gravar"));
  } catch (...) {
    db.db().rollback();
    throw;
  }
  return r;
}

void marcar(const QString& resposta) {
  LocalDatabase::Connection db;
  marcarNo(db, resposta);
}

}  // namespace Migracao
