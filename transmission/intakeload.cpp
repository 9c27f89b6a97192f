// The loading half of the intake: each exported table's statements into zide.db, checked line by
// line, and the same rows into zide.mdb. intake.cpp runs the export tool and hands tables here.
#include <sqlite3.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlRecord>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "access/jetwriter.h"
#include "base/appfolder.h"
#include "base/cp1252.h"
#include "base/privatefile.h"
#include "registry/localdb.h"
#include "transmission/declarationfile.h"
#include "transmission/insertparse.h"
#include "transmission/intake.h"
#include "transmission/intakefaults.h"

void writeFailed(Intake::Result& o, const QString& file, const QString& why, bool full) {
  const QString folder = QFileInfo(file).absolutePath();
  o.error = full || PrivateFile::diskFull(folder)
                ? diskFullMessage(folder)
                : QStringLiteral(
                      "Não foi possível gravar os bancos de dados de trabalho na pasta do programa:\r\n%1"
                      "\r\n\r\n%2")
                      .arg(QDir::toNativeSeparators(folder), why);
  o.details = why;
}

bool writeFault(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

namespace {

void noteFailure(Intake::Result& o, Intake::TableResult& t, const QString& error, qint64 count = 1) {
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

// The export's lines, split at CR LF and read in blocks.
class LineReader {
 public:
  explicit LineReader(QFile& f) : f_(f) {}
  // The next line without its CR LF; after the last CR LF, what remains is one more line.
  // Bytes of the file taken out as lines so far.
  qint64 consumed() const { return done_ + pos_; }
  bool next(QByteArray* line) {
    while (true) {
      const qsizetype at = buf_.indexOf("\r\n", pos_);
      if (at >= 0) {
        *line = buf_.mid(pos_, at - pos_);
        pos_ = at + 2;
        return true;
      }
      if (eof_) {
        if (last_) return false;
        last_ = true;
        *line = buf_.mid(pos_);
        return true;
      }
      buf_.remove(0, pos_);
      done_ += pos_;
      pos_ = 0;
      const QByteArray more = f_.read(1 << 20);
      if (more.isEmpty()) eof_ = true;
      else buf_.append(more);
    }
  }

 private:
  QFile& f_;
  QByteArray buf_;
  qsizetype pos_ = 0;
  qint64 done_ = 0;
  bool eof_ = false, last_ = false;
};

QString sqliteError(sqlite3* h) { return QString::fromUtf8(sqlite3_errmsg(h)); }

// The connection's own SQLite handle: statements go to it straight from the file's bytes.
sqlite3* handleOf(QSqlDatabase& db) {
  const QVariant v = db.driver()->handle();
  if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(v.constData());
}

// The columns of `known` named in `columns`, in that order and with those names; all of `known`
// when `columns` is empty. Columns `known` lacks are left out.
std::vector<jet::ColumnDef> inOrder(const std::vector<jet::ColumnDef>& known, const QStringList& columns) {
  if (columns.isEmpty()) return known;
  std::vector<jet::ColumnDef> out;
  for (const QString& name : columns)
    for (const jet::ColumnDef& c : known)
      if (c.name.compare(name, Qt::CaseInsensitive) == 0) {
        out.push_back(c);
        out.back().name = name;
        break;
      }
  return out;
}

// The table of the Access database that one export fills. With the declaration's structure it has
// the declaration's columns and types; without it, it is created at the first row with the columns
// that row names and the template's types (a table without rows gets the template's columns).
class AccessTable {
 public:
  // Without the declaration's structure, `templ` is the template's table (Intake::accessColumns).
  AccessTable(jet::JetWriter* writer, const QString& table, const DeclarationTable* structure,
              std::vector<jet::ColumnDef> templ)
      : writer_(writer), table_(table), structure_(structure), templ_(std::move(templ)) {}
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
      jet::Value v = row.values[size_t(i)];
      // A fixed-width text keeps its characters, not the engine's padding.
      if (fixed_.contains(*at))
        if (const QString* text = std::get_if<QString>(&v.variant())) {
          qsizetype n = text->size();
          while (n > 0 && text->at(n - 1) == QLatin1Char(' ')) --n;
          v = jet::Value(text->left(n));
        }
      values_[size_t(*at)] = v;
    }
    try {
      writer_->appendRow(std::span<const jet::Value>(values_));
    } catch (const jet::JetWriteError& e) {
      writeError_ = *why = QString::fromUtf8(e.what());
      return false;
    } catch (const jet::JetError& e) {
      *why = QString::fromUtf8(e.what());
      return false;
    }
    return true;
  }
  // Makes the table now, rows or not.
  void create() { open({}); }
  // Why the file could not be written; empty while it could. Read once the feed has joined.
  const QString& writeError() const { return writeError_; }

 private:
  bool open(const QStringList& columns) {
    if (!writer_ || started_) return ok_;
    started_ = true;
    std::vector<jet::ColumnDef> defs;
    if (structure_)
      for (const DeclarationColumn& c : *structure_) defs.push_back(accessColumn(c));
    else defs = inOrder(templ_, columns);
    for (size_t i = 0; i < defs.size(); ++i) index_.insert(defs[i].name.toUpper(), int(i));
    if (structure_)
      for (qsizetype i = 0; i < structure_->size(); ++i)
        if (structure_->at(i).isFixedText()) fixed_.insert(int(i));
    try {
      writer_->addTable(table_, defs);
      ok_ = true;
    } catch (const jet::JetWriteError& e) {
      writeError_ = QString::fromUtf8(e.what());
    } catch (const jet::JetError& e) { qWarning("zide.mdb: %s", e.what()); }
    return ok_;
  }

  jet::JetWriter* writer_;
  QString table_;
  const DeclarationTable* structure_;
  std::vector<jet::ColumnDef> templ_;
  bool started_ = false, ok_ = false;
  QHash<QString, int> index_;
  QSet<int> fixed_;  // positions of CHAR columns
  std::vector<jet::Value> values_;
  QString writeError_;
};

// The Access side of one table's load, on a thread of its own so that it runs beside the SQLite
// side: rows SQLite stored come in batches, in order, with their rowid; the rows the Access table
// refuses come back with the reason, for SQLite to take out again.
class AccessFeed {
 public:
  explicit AccessFeed(AccessTable& target) : target_(target), thread_([this] { work(); }) {}
  ~AccessFeed() { abandon(); }

  void push(const QString& statement, qint64 rowid) {
    batch_.push_back({statement, rowid});
    if (batch_.size() >= kBatch) send();
  }
  // Waits until every row pushed is written; the refused ones, with their reasons.
  std::vector<std::pair<qint64, QString>> finish() {
    send();
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
    if (thread_.joinable()) thread_.join();
    return std::move(refused_);
  }
  // Stops without writing what is still queued.
  void abandon() {
    {
      std::lock_guard lock(mutex_);
      closed_ = stopped_ = true;
    }
    ready_.notify_all();
    room_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Row {
    QString statement;  // shared with the reader's copy, not copied
    qint64 rowid;
  };
  static constexpr size_t kBatch = 512;
  static constexpr size_t kQueued = 16;  // batches in flight: memory stays small whatever the table

  void send() {
    if (batch_.empty()) return;
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kQueued || stopped_; });
    queue_.push_back(std::move(batch_));
    batch_.clear();
    lock.unlock();
    ready_.notify_one();
  }
  void work() {
    ParsedInsert parsed;
    QString why;
    while (true) {
      std::vector<Row> rows;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || closed_; });
        if (stopped_ || queue_.empty()) return;
        rows = std::move(queue_.front());
        queue_.pop_front();
      }
      room_.notify_one();
      for (const Row& r : rows)
        if (!parseInsert(r.statement, &parsed, &why) || !target_.append(parsed, &why))
          refused_.push_back({r.rowid, why});
    }
  }

  AccessTable& target_;
  std::vector<Row> batch_;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<std::vector<Row>> queue_;
  bool closed_ = false, stopped_ = false;
  std::vector<std::pair<qint64, QString>> refused_;  // written by the thread, read after the join
  std::thread thread_;
};

// Runs one line of the export: only an INSERT into `name`, one statement, values that must stay
// text quoted as such. Empty when the row is stored; else why it is not, with SQLite's code in `rc`
// (a write fault there means the file, not the row, failed).
QString runLine(sqlite3* h, const QByteArray& line, const QByteArray& name, const QList<bool>& exact, int* rc) {
  const char* b = line.constData();
  const char* e = b + line.size();
  if (!insertInto(b, e, name))
    return QStringLiteral("comando não permitido: %1").arg(QString::fromUtf8(b, qMin<qsizetype>(e - b, 60)));
  QByteArray rewritten;
  if (!exact.isEmpty()) {
    if (!quoteExactValues(QByteArray::fromRawData(b, e - b), exact, &rewritten))
      return QStringLiteral("lista de valores ilegível");
    b = rewritten.constData();
    e = b + rewritten.size();
  }
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(h, b, static_cast<int>(e - b), &stmt, &tail) != SQLITE_OK || !stmt) {
    const QString error = sqliteError(h);
    sqlite3_finalize(stmt);
    return error;
  }
  if (tail && !blank(tail, e)) {
    sqlite3_finalize(stmt);
    return QStringLiteral("mais de um comando na mesma linha");
  }
  *rc = sqlite3_step(stmt);
  const QString error = *rc == SQLITE_DONE ? QString() : sqliteError(h);
  sqlite3_finalize(stmt);
  return error;
}

// The rows zide.mdb refused leave zide.db too, each noted with its reason. Stops at a write fault
// (its code in `rc`, SQLite's words returned): then the caller rolls the table back.
QString takeBack(sqlite3* h, sqlite3_stmt* undo, const std::vector<std::pair<qint64, QString>>& refused,
                 Intake::Result& outcome, Intake::TableResult& result, qint64* loaded, int* rc) {
  for (const auto& [rowid, why] : refused) {
    sqlite3_bind_int64(undo, 1, rowid);
    *rc = sqlite3_step(undo);
    sqlite3_reset(undo);
    if (writeFault(*rc)) return sqliteError(h);
    noteFailure(outcome, result, why);
    --*loaded;
  }
  return QString();
}

// The statements from the line in `raw` to the end of the file.
qint64 statementsLeft(LineReader& reader, QByteArray& raw) {
  qint64 n = blank(raw.constBegin(), raw.constEnd()) ? 0 : 1;
  while (reader.next(&raw))
    if (!blank(raw.constBegin(), raw.constEnd())) ++n;
  return n;
}

// zide.db's handle with a transaction open on the emptied table `name`; null, with why, when the
// table cannot be loaded at all.
sqlite3* beginTable(DbConnection& db, const QByteArray& name, QString* why) {
  sqlite3* h = handleOf(db.db());
  if (!h) {
    *why = QStringLiteral("banco de dados de trabalho indisponível");
    return nullptr;
  }
  // zide.db is rebuilt from the template at every intake: nothing is gained by flushing each table to disk.
  sqlite3_exec(h, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  if (sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *why = sqliteError(h);
    return nullptr;
  }
  // The template is empty; this keeps the table to this declaration's rows whatever it held.
  sqlite3_exec(h, ("delete from " + name).constData(), nullptr, nullptr, nullptr);
  return h;
}

}  // namespace

bool Intake::LoadControl::keepGoing(qint64 done, qint64 size) const {
  if (stop && stop->load()) return false;
  if (progress && size > 0) progress(int(done * 1000 / size));
  return true;
}

std::vector<jet::ColumnDef> Intake::accessColumns(DbConnection& db, const QString& table, const QStringList& columns) {
  // The template keeps each column's declared type as written in the schema ("NUMERIC(15,2)").
  std::vector<jet::ColumnDef> known;
  try {
    for (const QSqlRecord& r : db.query(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table)))
      known.push_back(accessColumnOfWorking(r.value(QStringLiteral("name")).toString(),
                                            r.value(QStringLiteral("type")).toString()));
  } catch (const DbError&) {}
  return inOrder(known, columns);
}

void Intake::loadTable(DbConnection& db, const QString& table, const QString& exportPath, Result& outcome,
                       jet::JetWriter* access, const DeclarationTable* columns, const LoadControl* control) {
  outcome.tables.append(TableResult{table, 0, 0, {}});
  TableResult& result = outcome.tables.last();
  AccessTable target(access, table, columns, columns ? std::vector<jet::ColumnDef>() : accessColumns(db, table));
  const QList<bool> exact = columns ? exactColumns(*columns) : QList<bool>();
  QFile f(exportPath);
  if (!f.open(QIODevice::ReadOnly))
    return noteFailure(outcome, result, QStringLiteral("o arquivo de exportação não pôde ser lido"));
  if (f.size() == 0) return;  // an empty table
  // One row at a time: memory stays the size of a row whatever the size of the table.
  LineReader reader(f);
  QByteArray raw;
  reader.next(&raw);
  // Nothing of the table loads: every statement in the file, this first line included, is lost.
  const auto loseAll = [&](const QString& why) { noteFailure(outcome, result, why, statementsLeft(reader, raw)); };
  // A file that begins with an empty line loads nothing. (A first line that is only a line feed
  // and more text still counts as one of them.)
  if (raw.isEmpty() || raw.startsWith('\n'))
    return loseAll(QStringLiteral("o arquivo de exportação começa com uma linha vazia"));
  const QByteArray name = table.toUtf8();
  QString unusable;
  sqlite3* h = beginTable(db, name, &unusable);
  if (!h) return loseAll(unusable);
  const QString workFile = QString::fromUtf8(sqlite3_db_filename(h, "main"));
  // A row the Access table cannot keep leaves zide.db too, so the two hold the same rows.
  sqlite3_stmt* undo = nullptr;
  if (access) sqlite3_prepare_v2(h, ("delete from " + name + " where rowid = ?").constData(), -1, &undo, nullptr);
  std::optional<AccessFeed> feed;
  if (access) feed.emplace(target);
  // Nothing of the table is kept; when the file failed, the intake ends with why.
  const auto rollBack = [&] {
    if (feed) feed->abandon();
    sqlite3_finalize(undo);
    undo = nullptr;
    sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
  };
  const auto giveUp = [&](const QString& why, bool full = false) {
    rollBack();
    writeFailed(outcome, workFile, why, full);
  };
  qint64 loaded = 0, seen = 0;
  for (bool more = true; more; more = reader.next(&raw)) {
    // Cancelled: the table's rows so far go back out; the outcome is not used.
    if (control && (++seen & 1023) == 0 && !control->keepGoing(reader.consumed(), f.size())) return rollBack();
    const QString text = fromCp1252(raw);
    if (blank(raw.constBegin(), raw.constEnd())) continue;
    int rc = SQLITE_OK;
    const QString error = runLine(h, text.toUtf8(), name, exact, &rc);
    // A write fault is not this row's: the file cannot be written, and nothing of the table is kept.
    if (writeFault(rc)) return giveUp(error, (rc & 0xff) == SQLITE_FULL);
    if (!error.isEmpty()) {
      noteFailure(outcome, result, error);
    } else {
      if (feed) feed->push(text, sqlite3_last_insert_rowid(h));
      ++loaded;
    }
  }
  if (feed) {
    const auto refused = feed->finish();
    // zide.mdb lost rows to the disk, not to their values: the intake cannot go on.
    if (!target.writeError().isEmpty()) return giveUp(target.writeError());
    int rc = SQLITE_OK;
    const QString error = takeBack(h, undo, refused, outcome, result, &loaded, &rc);
    if (writeFault(rc)) return giveUp(error, (rc & 0xff) == SQLITE_FULL);
  }
  sqlite3_finalize(undo);
  undo = nullptr;
  if (sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    // The table's rows are in zide.mdb already: a commit that fails ends the intake, so the two
    // databases never disagree about them.
    const int rc = sqlite3_extended_errcode(h);
    return giveUp(sqliteError(h), (rc & 0xff) == SQLITE_FULL);
  }
  result.rows = static_cast<int>(loaded);
  outcome.loadedStatements += static_cast<int>(loaded);
}

void Intake::loadDeclared(DbConnection& db, const QString& table, const LoadControl& control) {
  const QString path = exportFile(settings_.tempDir, table);
  const auto it = structures_.constFind(table);
  sqlite3* h = handleOf(db.db());
  QString error;
  if (it != structures_.cend() && h && !replaceWorkingTable(h, table, *it, &error)) {
    QFile::remove(path);
    if (const int rc = sqlite3_extended_errcode(h); writeFault(rc)) {
      writeFailed(result_, settings_.workDb, error, (rc & 0xff) == SQLITE_FULL);
      return;
    }
    result_.lostTables.append({table, error});
    writeEmpty(db, table);
    return;
  }
  loadTable(db, table, path, result_, access_.get(), it != structures_.cend() ? &*it : nullptr, &control);
  QFile::remove(path);
  if (stop_ || !result_.error.isEmpty()) return;
  if (it != structures_.cend() && h && !trimFixedText(h, table, *it, &error)) {
    if (const int rc = sqlite3_extended_errcode(h); writeFault(rc))
      writeFailed(result_, settings_.workDb, error, (rc & 0xff) == SQLITE_FULL);
    else result_.lostTables.append({table, error});
  }
}

void Intake::writeEmpty(DbConnection& db, const QString& table) {
  // The Access database still has the table, with the template's columns and no rows, so that it
  // is whole for whoever reads it.
  AccessTable target(access_.get(), table, nullptr, accessColumns(db, table));
  target.create();
  if (!target.writeError().isEmpty()) writeFailed(result_, settings_.workDb, target.writeError());
}
