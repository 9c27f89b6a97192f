#include "registry/taxpayerstore.h"

#include <QSqlRecord>

namespace TaxpayerStore {

namespace {
// Yes/no as the table keeps it: true is -1.
int simNao(bool v) { return v ? -1 : 0; }

ContribuinteDados fromRecord(const QSqlRecord& r) {
  ContribuinteDados d;
  d.ie = r.value(QStringLiteral("IE")).toString();
  d.razaoSocial = r.value(QStringLiteral("RazaoSocial")).toString();
  d.cnpj = r.value(QStringLiteral("Cnpj")).toString();
  d.cnae = r.value(QStringLiteral("Cnae")).toString();
  d.chave = r.value(QStringLiteral("Chave")).toString();
  d.ccm = r.value(QStringLiteral("CCM")).toString();
  const QVariant simples = r.value(QStringLiteral("OptanteSimples"));
  d.optanteSimples = !simples.isNull() && simples.toInt() != 0;
  return d;
}
}  // namespace

bool exists(DbConnection& db, const QString& ie) {
  const auto rows = db.query(QStringLiteral("select count(0) as total from tblContribuinte where IE = ?"), {ie});
  return !rows.isEmpty() && rows.first().value(QStringLiteral("total")).toInt() > 0;
}

std::optional<ContribuinteDados> find(DbConnection& db, const QString& ie) {
  const auto rows = db.query(QStringLiteral("Select * from tblContribuinte where ie = ?"), {ie});
  if (rows.isEmpty()) return std::nullopt;
  return fromRecord(rows.first());
}

std::optional<Regime> regime(DbConnection& db, const QString& ie) {
  const auto rows = db.query(QStringLiteral("Select OptanteSimples from tblContribuinte where ie = ?"), {ie});
  if (rows.isEmpty()) return std::nullopt;
  const QVariant simples = rows.first().value(0);
  return !simples.isNull() && simples.toInt() == 0 ? Regime::DebitoCredito : Regime::SimplesNacional;
}

int count(DbConnection& db) {
  const auto rows = db.query(QStringLiteral("select count(0) from tblContribuinte"));
  return rows.isEmpty() ? 0 : rows.first().value(0).toInt();
}

QList<ContribuinteDados> all(DbConnection& db) {
  QList<ContribuinteDados> out;
  for (const QSqlRecord& r : db.query(QStringLiteral("Select * From tblContribuinte"))) out.append(fromRecord(r));
  return out;
}

void insert(DbConnection& db, const ContribuinteDados& d) {
  db.exec(QStringLiteral("Insert into tblContribuinte (IE,RazaoSocial,Cnpj,Cnae,Chave,CCM,OptanteSimples) "
                         "values (?,?,?,?,?,?,?)"),
          {d.ie, d.razaoSocial, d.cnpj, d.cnae, d.chave, d.ccm, simNao(d.optanteSimples)});
}

int update(DbConnection& db, const ContribuinteDados& d) {
  return db.exec(QStringLiteral("Update tblContribuinte set RazaoSocial = ?,Cnpj = ?,Cnae = ?,Chave = ?,CCM = ?,"
                                "OptanteSimples = ? where IE = ?"),
                 {d.razaoSocial, d.cnpj, d.cnae, d.chave, d.ccm, simNao(d.optanteSimples), d.ie});
}

int remove(DbConnection& db, const QString& ie) {
  return db.exec(QStringLiteral("Delete From tblContribuinte where ie = ?"), {ie});
}

}  // namespace TaxpayerStore
