#include "transmission/intake.h"

#include <sqlite3.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QThread>
#include <QTimer>

#include "access/jetwriter.h"
#include "base/appfolder.h"
#include "base/cp1252.h"
#include "registry/localdb.h"
#include "transmission/insertparse.h"
#include "transmission/processrunner.h"

const QString Intake::kTableList = QStringLiteral(
    "AUTOINCREMENTO,BLOQUEIOS,HEADERS,SETTINGS,TAB01001,TAB01002,TAB01003,TAB01003001,TAB01004,TAB01005,TAB01008,"
    "TAB01010,TAB01011,TAB01013,TAB01014,TAB01015,TAB01016,TAB01017,TAB01018,TAB01019,TAB01020,TAB01021,TAB02001,"
    "TAB02003,TAB02008,TAB03002,TAB03003,TAB03004,TAB03004001,TAB03004002,TAB03004003,TAB03004004,TAB03004005,"
    "TAB03004008,TAB03004009,TAB03004010,TAB03004011,TAB03004012,TAB03004013,TAB03004014,TAB03004015,TAB03005,"
    "TAB03006,TAB03007,TAB03008,TAB03009,TAB03010,TAB03011");

QStringList Intake::tables() { return kTableList.split(QLatin1Char(',')); }

Intake::Settings Intake::defaultSettings() {
  Settings s;
  s.tool = AppFolder::helper(QStringLiteral("fbexport"));
  s.templatePath = AppFolder::shipped(QStringLiteral("zide_limpo.db"));
  s.workDb = AppFolder::file(QStringLiteral("zide.db"));
  s.accessDb = AppFolder::file(QStringLiteral("zide.mdb"));
  s.tempDir = AppFolder::file(QStringLiteral("temp"));
  s.tables = tables();
  s.parallel = qMax(1, QThread::idealThreadCount());
  s.timeoutMs = 120000;
  return s;
}

QString Intake::exportFile(const QString& tempDir, const QString& table) {
  return tempDir + QStringLiteral("/export") + table + QStringLiteral(".txt");
}

Intake::Intake(QObject* parent) : QObject(parent), settings_(defaultSettings()) {}

Intake::~Intake() { stopProcesses(); }

void Intake::stopProcesses() {
  for (auto it = processes_.cbegin(); it != processes_.cend(); ++it) runner_->cancel(it.key());
  processes_.clear();
}

void Intake::cancel() {
  ++generation_;
  stopProcesses();
  db_.reset();
  dropAccess();
  running_ = false;
  dropCopy();
}

void Intake::dropAccess() {
  access_.reset();
  if (!accessPart_.isEmpty()) QFile::remove(accessPart_);
  accessPart_.clear();
}

void Intake::dropCopy() {
  if (!copy_.isEmpty()) QFile::remove(copy_);
  copy_.clear();
  // Exports of a run that failed or was abandoned go too.
  if (!gdb_.isEmpty())
    for (const QString& t : settings_.tables) QFile::remove(exportFile(settings_.tempDir, t));
}

void Intake::start(const QString& gdbPath) {
  cancel();
  running_ = true;
  runner_ = &ProcessRunner::current();
  gdb_ = gdbPath;
  outcome_ = Outcome();
  nextExport_ = exportsDone_ = nextLoad_ = 0;
  const Settings& s = settings_;

  if (!QDir().mkpath(s.tempDir)) {
    fail(QStringLiteral("Não foi possível criar a pasta temporária:\r\n%1").arg(QDir::toNativeSeparators(s.tempDir)));
    return;
  }
  if (!QFileInfo(s.templatePath).isFile()) {
    fail(QStringLiteral("O banco de dados modelo não foi encontrado:\r\n%1\r\n\r\nReinstale o programa.")
             .arg(QDir::toNativeSeparators(s.templatePath)));
    return;
  }
  const QFileInfo tool(s.tool);
  if (!tool.isFile() || !tool.isExecutable()) {
    fail(QStringLiteral("O programa de exportação não foi encontrado:\r\n%1\r\n\r\nReinstale o programa.")
             .arg(QDir::toNativeSeparators(s.tool)));
    return;
  }
  // The working database starts as a fresh copy of the template.
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) QFile::remove(s.workDb + QLatin1String(suffix));
  if (QFile::exists(s.workDb) || !QFile::copy(s.templatePath, s.workDb)) {
    fail(QStringLiteral("Não foi possível preparar o banco de dados de trabalho:\r\n%1")
             .arg(QDir::toNativeSeparators(s.workDb)));
    return;
  }
  // A copy keeps the template's mode; the working database holds the user's data and is his alone.
  QFile::setPermissions(s.workDb, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  try {
    db_ = std::make_unique<DbConnection>(s.workDb);
    db_->query(QStringLiteral("select count(*) from sqlite_master"));  // a copy that is no database fails here
  } catch (const DbError& e) {
    db_.reset();
    fail(QStringLiteral("Não foi possível abrir o banco de dados de trabalho:\r\n%1\r\n\r\n%2")
             .arg(QDir::toNativeSeparators(s.workDb), e.description));
    return;
  }
  // The Access database is written beside its final name and takes it only when complete, so a
  // half-written file is never there to be sent.
  QFile::remove(s.accessDb);
  accessPart_ = s.accessDb + QStringLiteral(".parcial");
  try {
    access_ = std::make_unique<jet::JetWriter>(accessPart_);
  } catch (const jet::JetError& e) {
    fail(QStringLiteral("Não foi possível criar o banco de dados da declaração:\r\n%1\r\n\r\n%2")
             .arg(QDir::toNativeSeparators(s.accessDb), QString::fromUtf8(e.what())));
    return;
  }
  // An export left by an earlier intake must never pass for this declaration's.
  for (const QString& t : s.tables) QFile::remove(exportFile(s.tempDir, t));
  // The engine writes into the file it opens: the exports read a copy, so the accountant's own
  // declaration is never touched. Without a copy (no room, unreadable) the tool reads the original
  // and reports what it finds there.
  const QString copy = s.tempDir + QStringLiteral("/declaracao.gdb");
  QFile::remove(copy);
  if (QFile::copy(gdb_, copy)) {
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    copy_ = copy;
    gdb_ = copy;
  }
  launchMore();
}

void Intake::fail(const QString& message) {
  stopProcesses();
  db_.reset();
  dropAccess();
  outcome_.error = message;
  // Late reports of this run's programs are ignored from here on; the failure is reported from
  // the event loop, so start() never emits before its caller is ready.
  const quint64 gen = ++generation_;
  QTimer::singleShot(0, this, [this, gen] {
    if (gen == generation_) done();
  });
}

void Intake::launchMore() {
  const Settings& s = settings_;
  while (nextExport_ < s.tables.size() && processes_.size() < qMax(1, s.parallel)) {
    const QString table = s.tables.at(nextExport_++);
    emit occurrence(QStringLiteral("Passo 1: Preparando ") + table);
    const QStringList args{QStringLiteral("-D"),
                           gdb_,
                           QStringLiteral("-U"),
                           QStringLiteral("SYSDBA"),
                           QStringLiteral("-P"),
                           QStringLiteral("gatehouse"),
                           QStringLiteral("-Si"),
                           QStringLiteral("-V"),
                           table,
                           QStringLiteral("-F"),
                           exportFile(s.tempDir, table)};
    const quint64 gen = generation_;
    auto id = std::make_shared<quint64>(0);
    *id = runner_->start(s.tool, args, s.timeoutMs, [this, gen, table, id](const ProcessResult& r) {
      if (gen != generation_) return;
      processes_.remove(*id);
      exportDone(table, r);
    });
    processes_.insert(*id, table);
  }
}

void Intake::exportDone(const QString& table, const ProcessResult& r) {
  const QString tool = QDir::toNativeSeparators(settings_.tool);
  switch (r.status) {
    case ProcessResult::FailedToStart:
      fail(QStringLiteral("Não foi possível executar o programa de exportação:\r\n%1\r\n\r\n%2")
               .arg(tool, r.errorOutput));
      return;
    case ProcessResult::Crashed:
      fail(QStringLiteral("O programa de exportação terminou de forma inesperada ao ler a tabela %1.").arg(table));
      return;
    case ProcessResult::TimedOut:
      fail(QStringLiteral("A leitura da tabela %1 não terminou em %2 segundos e foi interrompida.")
               .arg(table)
               .arg((settings_.timeoutMs + 999) / 1000));
      return;
    case ProcessResult::Finished: break;
  }
  if (r.exitCode != 0) {
    QString why = r.errorOutput;
    if (why.startsWith(QLatin1String("fbexport: "))) why = why.mid(10);
    if (why.isEmpty()) why = QStringLiteral("código de saída %1").arg(r.exitCode);
    fail(QStringLiteral("Não foi possível ler a tabela %1 do arquivo escolhido.\r\n\r\n%2").arg(table, why));
    return;
  }
  if (!QFileInfo::exists(exportFile(settings_.tempDir, table))) {
    fail(QStringLiteral("O programa de exportação não gerou o arquivo da tabela %1.").arg(table));
    return;
  }
  ++exportsDone_;
  emit advanced();
  if (exportsDone_ == settings_.tables.size()) {
    emit loadingStarted();
    const quint64 gen = generation_;
    QTimer::singleShot(0, this, [this, gen] {
      if (gen == generation_) loadNext();
    });
  } else {
    launchMore();
  }
}

void Intake::loadNext() {
  const QString table = settings_.tables.at(nextLoad_++);
  emit occurrence(QStringLiteral("Passo 2: Carregando ") + table);
  loadTable(*db_, table, exportFile(settings_.tempDir, table), outcome_, access_.get());
  // The export holds the declaration's data in plain text: it stays no longer than needed.
  QFile::remove(exportFile(settings_.tempDir, table));
  emit advanced();
  const quint64 gen = generation_;
  // Between tables the window gets its events.
  QTimer::singleShot(0, this, [this, gen] {
    if (gen != generation_) return;
    if (nextLoad_ < settings_.tables.size()) loadNext();
    else done();
  });
}

void Intake::done() {
  db_.reset();
  if (access_ && outcome_.error.isEmpty()) {
    try {
      access_->finish();
      access_.reset();
      if (!QFile::rename(accessPart_, settings_.accessDb))
        outcome_.error = QStringLiteral("Não foi possível gravar o banco de dados da declaração:\r\n%1")
                             .arg(QDir::toNativeSeparators(settings_.accessDb));
    } catch (const jet::JetError& e) {
      outcome_.error = QStringLiteral("Não foi possível gravar o banco de dados da declaração:\r\n%1\r\n\r\n%2")
                           .arg(QDir::toNativeSeparators(settings_.accessDb), QString::fromUtf8(e.what()));
    }
  }
  dropAccess();
  running_ = false;
  dropCopy();
  ++generation_;
  emit finished(outcome_);
}

namespace {

void noteFailure(Intake::Outcome& o, Intake::TableResult& t, const QString& error, qint64 count = 1) {
  if (count <= 0) return;
  if (o.failedStatements == 0) {
    o.firstFailedTable = t.table;
    o.firstFailedError = error;
  }
  o.failedStatements += static_cast<int>(count);
  t.lost += static_cast<int>(count);
  t.reasons[error] += static_cast<int>(count);
}

bool blank(const char* b, const char* e) {
  for (; b < e; ++b)
    if (*b != ' ' && *b != '\t' && *b != '\r' && *b != '\n' && *b != '\f' && *b != '\v') return false;
  return true;
}

// Only what the export tool writes for this table may run: an INSERT into it.
bool insertInto(const char* b, const char* e, const QByteArray& table) {
  while (b < e && (*b == ' ' || *b == '\t')) ++b;
  static const char head[] = "INSERT INTO ";
  const qsizetype n = sizeof head - 1;
  if (e - b < n || qstrnicmp(b, head, n) != 0) return false;
  b += n;
  const bool quoted = b < e && *b == '"';
  if (quoted) ++b;
  if (e - b < table.size() || qstrnicmp(b, table.constData(), table.size()) != 0) return false;
  b += table.size();
  if (quoted) {
    if (b >= e || *b != '"') return false;
    ++b;
  }
  return b < e && (*b == ' ' || *b == '(');
}

QString sqliteError(sqlite3* h) { return QString::fromUtf8(sqlite3_errmsg(h)); }

// The connection's own SQLite handle: statements go to it straight from the file's bytes.
sqlite3* handleOf(QSqlDatabase& db) {
  const QVariant v = db.driver()->handle();
  if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(v.constData());
}

// The table of the Access database that one export fills. It is created at the first row, with
// the columns that row names (the declaration's order); a table without rows gets the template's.
class AccessTable {
 public:
  AccessTable(jet::JetWriter* writer, DbConnection& db, const QString& table)
      : writer_(writer), db_(db), table_(table) {}
  ~AccessTable() { open({}); }

  // Appends a parsed row; false with *why when the row cannot be kept.
  bool append(const ParsedInsert& row, QString* why) {
    if (!writer_) return true;
    if (!open(row.columns)) {
      *why = QStringLiteral("tabela recusada pelo banco Access");
      return false;
    }
    values_.assign(index_.size(), jet::Value());
    for (qsizetype i = 0; i < row.columns.size(); ++i) {
      const auto at = index_.constFind(row.columns[i].toUpper());
      if (at == index_.cend()) {
        *why = QStringLiteral("coluna %1 ausente da tabela").arg(row.columns[i]);
        return false;
      }
      values_[size_t(*at)] = row.values[size_t(i)];
    }
    try {
      writer_->appendRow(std::span<const jet::Value>(values_));
    } catch (const jet::JetError& e) {
      *why = QString::fromUtf8(e.what());
      return false;
    }
    return true;
  }

 private:
  bool open(const QStringList& columns) {
    if (!writer_ || started_) return ok_;
    started_ = true;
    const std::vector<jet::ColumnDef> defs = Intake::accessColumns(db_, table_, columns);
    for (size_t i = 0; i < defs.size(); ++i) index_.insert(defs[i].name.toUpper(), int(i));
    try {
      writer_->addTable(table_, defs);
      ok_ = true;
    } catch (const jet::JetError& e) { qWarning("zide.mdb: %s", e.what()); }
    return ok_;
  }

  jet::JetWriter* writer_;
  DbConnection& db_;
  QString table_;
  bool started_ = false, ok_ = false;
  QHash<QString, int> index_;
  std::vector<jet::Value> values_;
};

}  // namespace

std::vector<jet::ColumnDef> Intake::accessColumns(DbConnection& db, const QString& table, const QStringList& columns) {
  // The template keeps each column's declared type as written in the schema ("NUMERIC(15,2)").
  QList<QPair<QString, QString>> known;
  try {
    for (const QSqlRecord& r : db.query(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table)))
      known.append({r.value(QStringLiteral("name")).toString(), r.value(QStringLiteral("type")).toString()});
  } catch (const DbError&) {}
  std::vector<jet::ColumnDef> out;
  auto add = [&out](const QPair<QString, QString>& c) {
    bool ok = false;
    jet::ColumnDef d = jet::columnForFirebirdType(c.first, c.second, &ok);
    // A type the map does not know keeps its values as text.
    if (!ok) d.type = jet::ColumnType::Memo;
    out.push_back(d);
  };
  if (columns.isEmpty()) {
    for (const auto& c : known) add(c);
    return out;
  }
  for (const QString& name : columns)
    for (const auto& c : known)
      if (c.first.compare(name, Qt::CaseInsensitive) == 0) {
        add({name, c.second});
        break;
      }
  return out;
}

void Intake::loadTable(DbConnection& db, const QString& table, const QString& exportPath, Outcome& outcome,
                       jet::JetWriter* access) {
  outcome.tables.append(TableResult{table, 0, 0, {}});
  TableResult& result = outcome.tables.last();
  AccessTable target(access, db, table);
  QFile f(exportPath);
  if (!f.open(QIODevice::ReadOnly)) {
    noteFailure(outcome, result, QStringLiteral("o arquivo de exportação não pôde ser lido"));
    return;
  }
  const QByteArray text = fromCp1252(f.readAll()).toUtf8();
  f.close();
  if (text.isEmpty()) return;  // an empty table

  // The file's lines, split at CR LF.
  QList<QPair<const char*, const char*>> lines;
  for (const char *p = text.constData(), *end = p + text.size(); p <= end;) {
    const char* q = p;
    while (q + 1 < end && !(q[0] == '\r' && q[1] == '\n')) ++q;
    if (q + 1 >= end) q = end;
    lines.append(qMakePair(p, q));
    p = q + 2;
  }
  auto statements = [&lines] {
    qint64 n = 0;
    for (const auto& l : lines)
      if (!blank(l.first, l.second)) ++n;
    return n;
  };
  if (lines.first().first == lines.first().second || *lines.first().first == '\n') {
    // A file that begins with an empty line loads nothing; what it holds is reported lost.
    noteFailure(outcome, result, QStringLiteral("o arquivo de exportação começa com uma linha vazia"), statements());
    return;
  }

  sqlite3* h = handleOf(db.db());
  if (!h) {
    noteFailure(outcome, result, QStringLiteral("banco de dados de trabalho indisponível"), statements());
    return;
  }
  // zide.db is rebuilt from the template at every intake: nothing is gained by flushing each table to disk.
  sqlite3_exec(h, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  if (sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    noteFailure(outcome, result, sqliteError(h), statements());
    return;
  }
  // The template is empty; this keeps the table to this declaration's rows whatever it held.
  const QByteArray name = table.toUtf8();
  sqlite3_exec(h, ("delete from " + name).constData(), nullptr, nullptr, nullptr);
  // A row the Access table cannot keep leaves zide.db too, so the two hold the same rows.
  sqlite3_stmt* undo = nullptr;
  if (access) sqlite3_prepare_v2(h, ("delete from " + name + " where rowid = ?").constData(), -1, &undo, nullptr);
  ParsedInsert parsed;
  QString why;
  qint64 loaded = 0;
  for (const auto& [b, e] : lines) {
    if (blank(b, e)) continue;
    if (!insertInto(b, e, name)) {
      noteFailure(outcome, result,
                  QStringLiteral("comando não permitido: %1").arg(QString::fromUtf8(b, qMin<qsizetype>(e - b, 60))));
      continue;
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(h, b, static_cast<int>(e - b), &stmt, &tail) != SQLITE_OK || !stmt) {
      noteFailure(outcome, result, sqliteError(h));
      sqlite3_finalize(stmt);
      continue;
    }
    if (tail && !blank(tail, e)) {
      noteFailure(outcome, result, QStringLiteral("mais de um comando na mesma linha"));
      sqlite3_finalize(stmt);
      continue;
    }
    const bool stored = sqlite3_step(stmt) == SQLITE_DONE;
    if (!stored) noteFailure(outcome, result, sqliteError(h));
    sqlite3_finalize(stmt);
    if (!stored) continue;
    if (access) {
      const QString statement = QString::fromUtf8(b, e - b);
      if (!parseInsert(statement, &parsed, &why) || !target.append(parsed, &why)) {
        sqlite3_bind_int64(undo, 1, sqlite3_last_insert_rowid(h));
        sqlite3_step(undo);
        sqlite3_reset(undo);
        noteFailure(outcome, result, why);
        continue;
      }
    }
    ++loaded;
  }
  sqlite3_finalize(undo);
  if (sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    noteFailure(outcome, result, sqliteError(h), loaded);
    sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
    return;
  }
  result.rows = static_cast<int>(loaded);
  outcome.loadedStatements += static_cast<int>(loaded);
}
