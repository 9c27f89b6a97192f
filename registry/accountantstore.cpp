#include "registry/accountantstore.h"

#include <QSqlError>

namespace AccountantStore {

bool exists(DbConnection& db) {
  const auto rows = db.query(QStringLiteral("select count(0) as total from tblContador"));
  return !rows.isEmpty() && rows.first().value(0).toInt() > 0;
}

const QStringList& columns() {
  static const QStringList kColumns = {
      QStringLiteral("cont_cpf_cnpj"),     QStringLiteral("cont_num_crc"),     QStringLiteral("cont_razao_nome"),
      QStringLiteral("cont_nom_endereco"), QStringLiteral("cont_num_predial"), QStringLiteral("cont_dsc_complemento"),
      QStringLiteral("cont_nom_bairro"),   QStringLiteral("cont_nom_cidade"),  QStringLiteral("cont_nom_estado"),
      QStringLiteral("cont_num_telefone"), QStringLiteral("cont_num_cep"),     QStringLiteral("cont_email")};
  return kColumns;
}

ContadorDados fromColumns(const std::function<QString(const QString&)>& value) {
  const QStringList& c = columns();
  return {value(c[0]), value(c[1]), value(c[2]), value(c[3]), value(c[4]),  value(c[5]),
          value(c[6]), value(c[7]), value(c[8]), value(c[9]), value(c[10]), value(c[11])};
}

std::optional<ContadorDados> find(DbConnection& db) {
  const auto rows = db.query(QStringLiteral("SELECT * FROM tblContador"));
  if (rows.isEmpty()) return std::nullopt;
  const QSqlRecord& r = rows.first();
  return fromColumns([&r](const QString& column) { return r.value(column).toString(); });
}

void insert(DbConnection& db, const ContadorDados& d) {
  db.exec(QStringLiteral("Insert into tblContador (") + columns().join(QStringLiteral(", ")) +
              QStringLiteral(") values (?,?,?,?,?,?,?,?,?,?,?,?)"),
          {d.cpfCnpj, d.crc, d.razaoNome, d.endereco, d.numero, d.complemento, d.bairro, d.cidade, d.estado, d.telefone,
           d.cep, d.email});
}

void replace(DbConnection& db, const ContadorDados& d) {
  if (!db.db().transaction()) throw DbError(-1, QStringLiteral("SQLite"), db.db().lastError().text());
  try {
    remove(db);
    insert(db, d);
  } catch (...) {
    db.db().rollback();
    throw;
  }
  if (!db.db().commit()) throw DbError(-1, QStringLiteral("SQLite"), db.db().lastError().text());
}

int remove(DbConnection& db) { return db.exec(QStringLiteral("delete from tblContador")); }

}  // namespace AccountantStore
