#include "registry/localdb.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <utility>

#include "base/appfolder.h"

QString SqlQuote(const QString& value) {
  QString v = value;
  v.replace(QLatin1Char('\''), QLatin1String("''"));
  return v;
}

namespace {
QAtomicInteger<quint64> g_counter;

[[noreturn]] void throwFrom(const QSqlError& e, const QString& fallback) {
  bool ok = false;
  int n = e.nativeErrorCode().toInt(&ok);
  if (!ok) n = -1;
  QString text = e.databaseText().isEmpty() ? e.driverText() : e.databaseText();
  if (text.isEmpty()) text = fallback;
  throw DbError(n, QStringLiteral("SQLite"), text);
}
}  // namespace

DbConnection::DbConnection(const QString& filePath, bool createIfMissing, const QString& schema)
    : name_(QStringLiteral("zide-%1").arg(g_counter.fetchAndAddRelaxed(1))) {
  // An empty file holds no data (a copy or a save that never finished): it is made anew like a
  // missing one, as nothing in it can be lost.
  const QFileInfo info(filePath);
  // SQLite writes through a link to its target, and creates a missing target: a database is opened
  // only under its own name, so a link planted in the data folder never gets a byte written.
  if (info.isSymLink())
    throw DbError(
        14, QStringLiteral("SQLite"),
        QStringLiteral("O banco de dados é um atalho para outro arquivo e não será aberto: %1").arg(filePath));
  const bool existed = info.exists() && !(createIfMissing && info.isFile() && info.size() == 0);
  if (!info.exists() && !createIfMissing)
    throw DbError(14, QStringLiteral("SQLite"), QStringLiteral("Arquivo não encontrado: %1").arg(filePath));
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
  db_.setDatabaseName(filePath);
  // Another program holding the file waits a little instead of failing at once.
  db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
  if (!db_.open()) throwFrom(db_.lastError(), QStringLiteral("Não foi possível abrir o banco de dados."));
  if (!existed) {
    for (const QString& stmt : schema.split(QLatin1Char(';'), Qt::SkipEmptyParts))
      if (!stmt.trimmed().isEmpty()) exec(stmt);
  }
}

DbConnection::~DbConnection() {
  db_.close();
  db_ = QSqlDatabase();
  QSqlDatabase::removeDatabase(name_);
}

namespace {
// Runs a statement as it is, or prepared with its values bound to the '?' placeholders.
void run(QSqlQuery& q, const QString& sql, const QVariantList& values) {
  if (values.isEmpty()) {
    if (!q.exec(sql)) throwFrom(q.lastError(), QStringLiteral("Falha ao executar o comando."));
    return;
  }
  if (!q.prepare(sql)) throwFrom(q.lastError(), QStringLiteral("Falha ao preparar o comando."));
  for (const QVariant& v : values) q.addBindValue(v);
  if (!q.exec()) throwFrom(q.lastError(), QStringLiteral("Falha ao executar o comando."));
}
}  // namespace

QList<QSqlRecord> DbConnection::query(const QString& sql) { return query(sql, {}); }

QList<QSqlRecord> DbConnection::query(const QString& sql, const QVariantList& values) {
  QSqlQuery q(db_);
  q.setForwardOnly(true);
  run(q, sql, values);
  QList<QSqlRecord> rows;
  while (q.next()) rows.append(q.record());
  if (q.lastError().isValid()) throwFrom(q.lastError(), QStringLiteral("Falha ao ler a consulta."));
  return rows;
}

int DbConnection::exec(const QString& sql) { return exec(sql, {}); }

int DbConnection::exec(const QString& sql, const QVariantList& values) {
  QSqlQuery q(db_);
  run(q, sql, values);
  return q.numRowsAffected();
}

namespace LocalDatabase {

QString path() { return AppFolder::file(QStringLiteral("diziz.db")); }

QString schema() {
  return QStringLiteral(
      "CREATE TABLE tblContador (cont_cpf_cnpj TEXT, cont_num_crc TEXT, cont_razao_nome TEXT, "
      "cont_nom_endereco TEXT, cont_num_predial TEXT, cont_dsc_complemento TEXT, cont_nom_bairro TEXT, "
      "cont_nom_cidade TEXT, cont_nom_estado TEXT, cont_num_telefone TEXT, cont_num_cep TEXT, cont_email TEXT);"
      "CREATE TABLE tblContribuinte (IE TEXT, RazaoSocial TEXT, Cnpj TEXT, Cnae TEXT, Chave TEXT, CCM TEXT, "
      "OptanteSimples INTEGER DEFAULT 0)");
}

namespace {
std::function<void()> g_firstUse;
}

void setFirstUseHook(std::function<void()> hook) { g_firstUse = std::move(hook); }

Connection::Connection() : DbConnection(path(), true, schema()) {
  if (g_firstUse) std::exchange(g_firstUse, nullptr)();
}

}  // namespace LocalDatabase
