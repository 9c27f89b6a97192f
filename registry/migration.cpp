#include "registry/migration.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlRecord>

#include "base/appfolder.h"
#include "registry/deliverystore.h"
#include "registry/importaccess.h"
#include "registry/localdb.h"

namespace Migracao {
namespace {

// The offer is remembered in the registry itself, so a fresh diziz.db offers again.
const QString kCriaMarca =
    QStringLiteral("CREATE TABLE IF NOT EXISTS tblMigracao (arquivo TEXT, resposta TEXT, data TEXT)");

const QStringList kColunasContador = {
    QStringLiteral("cont_cpf_cnpj"),     QStringLiteral("cont_num_crc"),     QStringLiteral("cont_razao_nome"),
    QStringLiteral("cont_nom_endereco"), QStringLiteral("cont_num_predial"), QStringLiteral("cont_dsc_complemento"),
    QStringLiteral("cont_nom_bairro"),   QStringLiteral("cont_nom_cidade"),  QStringLiteral("cont_nom_estado"),
    QStringLiteral("cont_num_telefone"), QStringLiteral("cont_num_cep"),     QStringLiteral("cont_email")};
const QStringList kColunasContribuinte = {QStringLiteral("IE"),   QStringLiteral("RazaoSocial"), QStringLiteral("Cnpj"),
                                          QStringLiteral("Cnae"), QStringLiteral("Chave"),       QStringLiteral("CCM")};

// Access keeps an absent text as Null; so does the copy.
QVariant texto(const QString& v) { return v.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(v); }

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
  return total(db, QStringLiteral("tblMigracao")) == 0 && total(db, QStringLiteral("tblContador")) == 0 &&
         total(db, QStringLiteral("tblContribuinte")) == 0;
}

Resultado trazer(const QString& mdbPath) {
  const AccessTable contador = ReadAccessTable(mdbPath, QStringLiteral("tblContador"));
  const AccessTable contribuintes = ReadAccessTable(mdbPath, QStringLiteral("tblContribuinte"));
  for (const QString& c : kColunasContador)
    if (!contador.columns.contains(c, Qt::CaseInsensitive))
      throw AccessError(QStringLiteral("tblContador sem a coluna %1").arg(c));
  for (const QString& c : kColunasContribuinte + QStringList{QStringLiteral("OptanteSimples")})
    if (!contribuintes.columns.contains(c, Qt::CaseInsensitive))
      throw AccessError(QStringLiteral("tblContribuinte sem a coluna %1").arg(c));

  LocalDatabase::Connection db;
  Resultado r;
  if (!db.db().transaction()) throw DbError(-1, QStringLiteral("SQLite"), QStringLiteral("Transação recusada"));
  try {
    // The registry keeps at most one accountant.
    if (!contador.rows.isEmpty()) {
      QVariantList v;
      for (const QString& c : kColunasContador) v << texto(contador.value(0, c));
      db.exec(QStringLiteral("insert into tblContador (") + kColunasContador.join(QStringLiteral(", ")) +
                  QStringLiteral(") values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
              v);
      r.contadores = 1;
    }
    for (int i = 0; i < contribuintes.rows.size(); ++i) {
      QVariantList v;
      for (const QString& c : kColunasContribuinte) v << texto(contribuintes.value(i, c));
      // Access's yes is -1, as the windows expect it.
      v << (contribuintes.value(i, QStringLiteral("OptanteSimples")) == QLatin1String("1") ? -1 : 0);
      db.exec(QStringLiteral("insert into tblContribuinte (IE, RazaoSocial, Cnpj, Cnae, Chave, CCM, OptanteSimples) "
                             "values (?, ?, ?, ?, ?, ?, ?)"),
              v);
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
