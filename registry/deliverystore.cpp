#include "registry/deliverystore.h"

#include <QSqlRecord>

namespace DeliveryStore {

namespace {
const QString kColumns = QStringLiteral(
    "data, tipo, ie, razao_social, contador, arquivo, tamanho, sha256, referencias, http_status, resposta, "
    "veredito, protocolos, tabelas");

bool hasColumn(DbConnection& db, const QString& name) {
  for (const QSqlRecord& r : db.query(QStringLiteral("PRAGMA table_info(tblEnvio)")))
    if (r.value(QStringLiteral("name")).toString() == name) return true;
  return false;
}
}  // namespace

void ensure(DbConnection& db) {
  db.exec(QStringLiteral(
      "CREATE TABLE IF NOT EXISTS tblEnvio (id INTEGER PRIMARY KEY AUTOINCREMENT, data TEXT NOT NULL, tipo TEXT, "
      "ie TEXT, razao_social TEXT, contador TEXT, arquivo TEXT, tamanho INTEGER, sha256 TEXT, referencias TEXT, "
      "http_status INTEGER, resposta BLOB, veredito TEXT, protocolos TEXT, tabelas TEXT)"));
  if (!hasColumn(db, QStringLiteral("tabelas")))
    db.exec(QStringLiteral("ALTER TABLE tblEnvio ADD COLUMN tabelas TEXT"));
}

qint64 add(DbConnection& db, const Delivery& d) {
  ensure(db);
  db.exec(QStringLiteral("insert into tblEnvio (") + kColumns +
              QStringLiteral(") values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          {d.data.toString(Qt::ISODateWithMs), d.tipo, d.ie, d.razaoSocial, d.contador, d.arquivo, d.tamanho, d.sha256,
           d.referencias, d.httpStatus, d.resposta.left(kAnswerLimit), d.veredito, d.protocolos, d.tabelas});
  return db.query(QStringLiteral("select last_insert_rowid()")).first().value(0).toLongLong();
}

QList<Delivery> list(DbConnection& db, const QString& ie) {
  // Reading never creates the table: a registry from before the journal simply has no rows.
  if (db.query(QStringLiteral("select 1 from sqlite_master where type = 'table' and name = 'tblEnvio'")).isEmpty())
    return {};
  // Nor changes it: a journal from before the per-table counts reads them as empty.
  QString columns = kColumns;
  if (!hasColumn(db, QStringLiteral("tabelas"))) columns.replace(QStringLiteral(", tabelas"), QStringLiteral(", null"));
  const QString sql = QStringLiteral("select id, ") + columns + QStringLiteral(" from tblEnvio") +
                      (ie.isEmpty() ? QString() : QStringLiteral(" where ie = ?")) +
                      QStringLiteral(" order by id desc");
  QList<Delivery> out;
  for (const QSqlRecord& r : ie.isEmpty() ? db.query(sql) : db.query(sql, {ie})) {
    Delivery d;
    d.id = r.value(0).toLongLong();
    d.data = QDateTime::fromString(r.value(1).toString(), Qt::ISODateWithMs);
    d.tipo = r.value(2).toString();
    d.ie = r.value(3).toString();
    d.razaoSocial = r.value(4).toString();
    d.contador = r.value(5).toString();
    d.arquivo = r.value(6).toString();
    d.tamanho = r.value(7).toLongLong();
    d.sha256 = r.value(8).toString();
    d.referencias = r.value(9).toString();
    d.httpStatus = r.value(10).toInt();
    d.resposta = r.value(11).toByteArray();
    d.veredito = r.value(12).toString();
    d.protocolos = r.value(13).toString();
    d.tabelas = r.value(14).toString();
    out.append(d);
  }
  return out;
}

}  // namespace DeliveryStore
