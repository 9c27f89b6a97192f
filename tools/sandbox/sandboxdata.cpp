#include "sandboxdata.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS contribuinte (ie TEXT PRIMARY KEY, chave TEXT NOT NULL, cnpj TEXT NOT NULL, "
    "simples INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS transmissao (id INTEGER PRIMARY KEY AUTOINCREMENT, protocolo TEXT UNIQUE, "
    "ie TEXT NOT NULL, referencia TEXT NOT NULL, data TEXT NOT NULL, status INTEGER NOT NULL, "
    "adicionado TEXT NOT NULL, tipo TEXT NOT NULL, contador TEXT NOT NULL, gia TEXT NOT NULL DEFAULT '', "
    "arquivo TEXT NOT NULL, tamanho INTEGER NOT NULL, mensagem TEXT NOT NULL DEFAULT '', "
    "sha1 TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS arquivo_tabela (sha1 TEXT NOT NULL, tabela TEXT NOT NULL, linhas INTEGER NOT NULL, "
    "PRIMARY KEY (sha1, tabela))",
    "CREATE TABLE IF NOT EXISTS contador (id INTEGER PRIMARY KEY AUTOINCREMENT, recebido TEXT NOT NULL, "
    "parametros INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS contador_parametro (contador INTEGER NOT NULL, posicao INTEGER NOT NULL, "
    "nome TEXT NOT NULL, valor TEXT NOT NULL, PRIMARY KEY (contador, posicao))",
    "CREATE TABLE IF NOT EXISTS requisicao (id INTEGER PRIMARY KEY AUTOINCREMENT, recebido TEXT NOT NULL, "
    "metodo TEXT NOT NULL, caminho TEXT NOT NULL, soapaction TEXT, content_type TEXT, tamanho INTEGER NOT NULL, "
    "operacao TEXT, resposta INTEGER NOT NULL)",
};

QString now() { return QDateTime::currentDateTime().toString(Qt::ISODateWithMs); }

Transmissao fromQuery(const QSqlQuery& q) {
  Transmissao t;
  t.id = q.value("id").toLongLong();
  t.protocolo = q.value("protocolo").toString();
  t.ie = q.value("ie").toString();
  t.referencia = q.value("referencia").toString();
  t.data = q.value("data").toString();
  t.status = q.value("status").toInt();
  t.adicionado = q.value("adicionado").toString();
  t.tipo = q.value("tipo").toString();
  t.contador = q.value("contador").toString();
  t.gia = q.value("gia").toString();
  t.arquivo = q.value("arquivo").toString();
  t.tamanho = q.value("tamanho").toLongLong();
  t.mensagem = q.value("mensagem").toString();
  t.sha1 = q.value("sha1").toString();
  return t;
}

bool run(QSqlQuery& q) {
  if (q.exec()) return true;
  qWarning("sqlite: %s", qPrintable(q.lastError().text()));
  return false;
}

// Empty texts are stored as '' (a null QString would bind as NULL).
QVariant text(const QString& s) { return QVariant(s.isNull() ? QStringLiteral("") : s); }
}  // namespace

QString SandboxData::digits(const QString& text) {
  QString out;
  for (QChar c : text)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

// Inscriptions compare without their punctuation, as a person would type them either way.
QString SandboxData::normalizeIe(const QString& ie) {
  QString out;
  for (QChar c : ie)
    if (c != '.' && c != '/' && c != '-' && !c.isSpace()) out += c.toUpper();
  return out;
}

bool SandboxData::open(const QString& path, QString* error) {
  db_ = QSqlDatabase::addDatabase("QSQLITE", "sandbox");
  db_.setDatabaseName(path);
  db_.setConnectOptions("QSQLITE_BUSY_TIMEOUT=5000");
  if (!db_.open()) {
    *error = db_.lastError().text();
    return false;
  }
  // Test data: no wait for the disk at every request (a killed sandbox still keeps what it wrote).
  QSqlQuery(db_).exec("PRAGMA synchronous = OFF");
  for (const char* sql : kSchema) {
    QSqlQuery q(db_);
    if (!q.exec(QString::fromLatin1(sql))) {
      *error = q.lastError().text();
      return false;
    }
  }
  // A data file from before the sha1 column gets it (empty for the transmissions it already holds).
  QSqlQuery cols(db_);
  bool hasSha1 = false;
  if (cols.exec("PRAGMA table_info(transmissao)"))
    while (cols.next()) hasSha1 = hasSha1 || cols.value("name").toString() == QLatin1String("sha1");
  if (!hasSha1) {
    QSqlQuery alter(db_);
    if (!alter.exec("ALTER TABLE transmissao ADD COLUMN sha1 TEXT NOT NULL DEFAULT ''")) {
      *error = alter.lastError().text();
      return false;
    }
  }
  return true;
}

void SandboxData::putContribuinte(const Contribuinte& c) {
  QSqlQuery q(db_);
  q.prepare("INSERT OR REPLACE INTO contribuinte (ie, chave, cnpj, simples) VALUES (?, ?, ?, ?)");
  q.addBindValue(normalizeIe(c.ie));
  q.addBindValue(c.chave);
  q.addBindValue(digits(c.cnpj));
  q.addBindValue(c.simples ? 1 : 0);
  run(q);
}

static std::optional<Contribuinte> oneContribuinte(QSqlQuery& q) {
  run(q);
  if (!q.next()) return std::nullopt;
  return Contribuinte{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toInt() != 0};
}

std::optional<Contribuinte> SandboxData::contribuinteByIe(const QString& ie) const {
  QSqlQuery q(db_);
  q.prepare("SELECT ie, chave, cnpj, simples FROM contribuinte WHERE ie = ?");
  q.addBindValue(normalizeIe(ie));
  return oneContribuinte(q);
}

std::optional<Contribuinte> SandboxData::contribuinteByChave(const QString& chave) const {
  QSqlQuery q(db_);
  q.prepare("SELECT ie, chave, cnpj, simples FROM contribuinte WHERE chave = ? ORDER BY ie LIMIT 1");
  q.addBindValue(chave);
  return oneContribuinte(q);
}

std::optional<Transmissao> SandboxData::addTransmissao(Transmissao t) {
  QSqlQuery q(db_);
  q.prepare(
      "INSERT INTO transmissao (ie, referencia, data, status, adicionado, tipo, contador, gia, arquivo, "
      "tamanho, mensagem, sha1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (const QVariant& v :
       {text(t.ie), text(t.referencia), text(t.data), QVariant(t.status), text(t.adicionado), text(t.tipo),
        text(t.contador), text(t.gia), text(t.arquivo), QVariant(t.tamanho), text(t.mensagem), text(t.sha1)})
    q.addBindValue(v);
  if (!run(q)) return std::nullopt;
  t.id = q.lastInsertId().toLongLong();
  // Year of the processing date and a sequence, as receipts are numbered.
  t.protocolo = t.data.mid(6, 4) + QString::number(t.id).rightJustified(6, '0');
  QSqlQuery u(db_);
  u.prepare("UPDATE transmissao SET protocolo = ? WHERE id = ?");
  u.addBindValue(t.protocolo);
  u.addBindValue(t.id);
  if (!run(u)) return std::nullopt;
  return t;
}

QList<Transmissao> SandboxData::transmissoes(const QString& ie) const {
  QSqlQuery q(db_);
  q.prepare("SELECT * FROM transmissao WHERE ie = ? ORDER BY id");
  q.addBindValue(normalizeIe(ie));
  run(q);
  QList<Transmissao> out;
  while (q.next()) out.append(fromQuery(q));
  return out;
}

std::optional<Transmissao> SandboxData::transmissaoByProtocolo(const QString& protocolo) const {
  QSqlQuery q(db_);
  q.prepare("SELECT * FROM transmissao WHERE protocolo = ?");
  q.addBindValue(protocolo.trimmed());
  run(q);
  if (!q.next()) return std::nullopt;
  return fromQuery(q);
}

void SandboxData::addContadorCall(const QList<QPair<QString, QString>>& params) {
  db_.transaction();
  QSqlQuery q(db_);
  q.prepare("INSERT INTO contador (recebido, parametros) VALUES (?, ?)");
  q.addBindValue(now());
  q.addBindValue(params.size());
  run(q);
  const qint64 id = q.lastInsertId().toLongLong();
  for (int i = 0; i < params.size(); ++i) {
    QSqlQuery p(db_);
    p.prepare("INSERT INTO contador_parametro (contador, posicao, nome, valor) VALUES (?, ?, ?, ?)");
    p.addBindValue(id);
    p.addBindValue(i + 1);
    p.addBindValue(text(params[i].first));
    p.addBindValue(text(params[i].second));
    run(p);
  }
  db_.commit();
}

void SandboxData::logRequest(const QString& method, const QString& target, const QString& soapAction,
                             const QString& contentType, qint64 size, const QString& operation, int status) {
  QSqlQuery q(db_);
  q.prepare(
      "INSERT INTO requisicao (recebido, metodo, caminho, soapaction, content_type, tamanho, operacao, resposta) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  for (const QVariant& v : {QVariant(now()), QVariant(method), QVariant(target), QVariant(soapAction),
                            QVariant(contentType), QVariant(size), QVariant(operation), QVariant(status)})
    q.addBindValue(v);
  run(q);
}

bool SandboxData::addTableCounts(const QString& sha1, const QMap<QString, qint64>& counts) {
  db_.transaction();
  QSqlQuery q(db_);
  q.prepare("INSERT OR REPLACE INTO arquivo_tabela (sha1, tabela, linhas) VALUES (?, ?, ?)");
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
    q.addBindValue(sha1);
    q.addBindValue(it.key());
    q.addBindValue(it.value());
    if (!run(q)) {
      db_.rollback();
      return false;
    }
  }
  return db_.commit();
}
