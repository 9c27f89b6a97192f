#include "transmission/intake.h"

#include <sqlite3.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QStorageInfo>
#include <QThread>
#include <QTimer>
#include <cerrno>
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
#include "transmission/processrunner.h"

const QString Intake::kTableList = QStringLiteral(
    "AUTOINCREMENTO,BLOQUEIOS,HEADERS,SETTINGS,TAB01001,TAB01002,TAB01003,TAB01003001,TAB01004,TAB01005,TAB01008,"
    "TAB01010,TAB01011,TAB01013,TAB01014,TAB01015,TAB01016,TAB01017,TAB01018,TAB01019,TAB01020,TAB01021,TAB02001,"
    "TAB02003,TAB02008,TAB03002,TAB03003,TAB03004,TAB03004001,TAB03004002,TAB03004003,TAB03004004,TAB03004005,"
    "TAB03004008,TAB03004009,TAB03004010,TAB03004011,TAB03004012,TAB03004013,TAB03004014,TAB03004015,TAB03005,"
    "TAB03006,TAB03007,TAB03008,TAB03009,TAB03010,TAB03011");

namespace {

// A write that failed (disk full, I/O error) ends the whole intake: both working databases go, and
// the user is told the disk is full when it is.
// `file` is one of them, in the data folder.
void writeFailed(Intake::Outcome& o, const QString& file, const QString& why, bool full = false) {
  const QString folder = QFileInfo(file).absolutePath();
  o.error = full || PrivateFile::diskFull(folder)
                ? diskFullMessage(folder)
                : QStringLiteral(
                      "Não foi possível gravar os bancos de dados de trabalho na pasta do programa:\r\n%1"
                      "\r\n\r\n%2")
                      .arg(QDir::toNativeSeparators(folder), why);
  o.details = why;
}

// SQLite could not write the file (full, failing, or held by another program): no row of the
// table is at fault, and going on would leave the two databases disagreeing.
bool writeFault(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

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

QString Intake::structureFile(const QString& tempDir, const QString& table) {
  return tempDir + QStringLiteral("/estrutura") + table + QStringLiteral(".txt");
}

Intake::Intake(QObject* parent) : QObject(parent), settings_(defaultSettings()) {}

Intake::~Intake() {
  // The program or the window going away mid-run: nothing of the declaration may stay behind.
  if (running_) cancel();
  else {
    stopProcesses();
    stopLoader();
  }
}

QString Intake::lockFile(const QString& tempDir) { return tempDir + QStringLiteral("/preparacao.lock"); }

namespace {
void removeWorkDb(const QString& workDb) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) QFile::remove(workDb + QLatin1String(suffix));
}
}  // namespace

QStringList Intake::removeLeftovers(const Settings& s) {
  QStringList removed;
  // Another program on this data folder may be preparing right now: its files are not leftovers.
  QLockFile lock(lockFile(s.tempDir));
  if (QFileInfo::exists(s.tempDir) && !lock.tryLock(0)) return removed;
  auto drop = [&removed](const QString& path) {
    const QFileInfo fi(path);
    if (!fi.isFile() && !fi.isSymLink()) return;
    if (QFile::remove(path)) removed << path;
  };
  // Only names an intake writes: whatever else the folders hold is not ours to touch.
  for (const QString& t : s.tables) {
    drop(exportFile(s.tempDir, t));
    drop(structureFile(s.tempDir, t));
  }
  drop(s.tempDir + QStringLiteral("/declaracao.gdb"));
  const QString part = s.accessDb + QStringLiteral(".parcial");
  // A working database whose load never ended holds part of a declaration and is of no use.
  const bool unfinished = !removed.isEmpty() || QFileInfo::exists(part) || QFileInfo::exists(s.workDb + "-journal");
  drop(part);
  if (unfinished)
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) drop(s.workDb + QLatin1String(suffix));
  return removed;
}

void Intake::stopProcesses() {
  for (auto it = processes_.cbegin(); it != processes_.cend(); ++it) runner_->cancel(it.key());
  processes_.clear();
}

void Intake::cancel() {
  const bool wasRunning = running_;
  ++generation_;
  stopProcesses();
  stopLoader();
  db_.reset();
  dropAccess();
  // A run stopped halfway leaves neither working database, never one without the other: what a
  // half-rebuilt one holds is part of a declaration.
  if (wasRunning) {
    workMade_ = false;
    removeWorkDb(settings_.workDb);
  }
  running_ = false;
  dropCopy();
  lock_.reset();
}

void Intake::dropWork() {
  if (!workMade_) return;
  workMade_ = false;
  removeWorkDb(settings_.workDb);
}

void Intake::dropAccess() {
  access_.reset();
  if (!accessPart_.isEmpty()) QFile::remove(accessPart_);
  accessPart_.clear();
}

void Intake::dropCopy() {
  if (!copy_.isEmpty()) QFile::remove(copy_);
  copy_.clear();
  // Nothing of a declaration stays behind in temp/, whatever way the intake ended.
  for (const QString& t : std::as_const(settings_.tables)) {
    QFile::remove(exportFile(settings_.tempDir, t));
    QFile::remove(structureFile(settings_.tempDir, t));
  }
}

void Intake::start(const QString& gdbPath) {
  cancel();
  running_ = true;
  runner_ = &ProcessRunner::current();
  gdb_ = gdbPath;
  chosen_ = gdbPath;
  outcome_ = Outcome();
  workMade_ = false;
  structures_.clear();
  unread_.clear();
  nextExport_ = exportsDone_ = 0;
  const Settings& s = settings_;

  // Private: the exports and any copy of the declaration the tool makes live here.
  if (!QDir().mkpath(s.tempDir) ||
      !QFile::setPermissions(s.tempDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
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
  // The file itself first: what it is decides the message, before any program reads it.
  QFile chosen(gdb_);
  if (!chosen.open(QIODevice::ReadOnly)) {
    fail(QStringLiteral("O arquivo escolhido não pôde ser aberto para leitura: o usuário não tem permissão "
                        "para lê-lo, ou outro programa o mantém bloqueado."),
         chosen.errorString());
    return;
  }
  const DeclarationFileCheck check = checkDeclarationHeader(chosen.read(1024), chosen.size());
  const qint64 declarationSize = chosen.size();
  chosen.close();
  if (check.kind != DeclarationFileCheck::Ok) {
    fail(check.message);
    return;
  }
  engineRelease_ = engineGeneration(check.odsMajor, check.odsMinor);
  // Room for the copy the exports read and the working database, which is about as large.
  const QStorageInfo disk(QFileInfo(s.workDb).absolutePath());
  if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < 2 * declarationSize + (1 << 20)) {
    fail(diskFullMessage(QFileInfo(s.workDb).absolutePath()));
    return;
  }
  // Held while the run lasts: a program started meanwhile on this folder leaves its files alone.
  lock_ = std::make_unique<QLockFile>(lockFile(s.tempDir));
  if (!lock_->tryLock(0)) lock_.reset();
  // The working database starts as a fresh copy of the template, a new file of the user's alone
  // (a link planted at its name or its journal's is removed, never followed).
  removeWorkDb(s.workDb);
  QString why;
  bool full = false;
  if (!PrivateFile::copy(s.templatePath, s.workDb, &why, &full)) {
    fail(full ? diskFullMessage(QFileInfo(s.workDb).absolutePath())
              : QStringLiteral("Não foi possível preparar o banco de dados de trabalho:\r\n%1")
                    .arg(QDir::toNativeSeparators(s.workDb)),
         why);
    return;
  }
  workMade_ = true;
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
    fail(PrivateFile::diskFull(QFileInfo(s.accessDb).absolutePath(), errno)
             ? diskFullMessage(QFileInfo(s.accessDb).absolutePath())
             : QStringLiteral("Não foi possível criar o banco de dados da declaração:\r\n%1\r\n\r\n%2")
                   .arg(QDir::toNativeSeparators(s.accessDb), QString::fromUtf8(e.what())),
         QString::fromUtf8(e.what()));
    return;
  }
  // An export left by an earlier intake must never pass for this declaration's.
  for (const QString& t : s.tables) {
    QFile::remove(exportFile(s.tempDir, t));
    QFile::remove(structureFile(s.tempDir, t));
  }
  // The engine writes into the file it opens: the exports read a copy, so the accountant's own
  // declaration is never touched. Without a copy (no room, unreadable) the tool reads the original
  // and reports what it finds there.
  const QString copy = s.tempDir + QStringLiteral("/declaracao.gdb");
  if (PrivateFile::copy(gdb_, copy, &why, &full)) {
    copy_ = copy;
    gdb_ = copy;
  } else if (full) {
    fail(diskFullMessage(QFileInfo(s.workDb).absolutePath()), why);
    return;
  }
  launchMore();
}

void Intake::fail(const QString& message, const QString& details) {
  stopProcesses();
  db_.reset();
  dropAccess();
  dropWork();
  outcome_.error = message;
  // The engine names the file it read, our copy: the user knows his own file.
  outcome_.details = details;
  if (!copy_.isEmpty()) {
    outcome_.details.replace(copy_, chosen_);
    outcome_.details.replace(QDir::toNativeSeparators(copy_), QDir::toNativeSeparators(chosen_));
  }
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
    const quint64 gen = generation_;
    emit occurrence(QStringLiteral("Passo 1: Preparando ") + table);
    if (gen != generation_) return;
    // The rows and the table's own structure (the working table is made from it) in one run.
    auto id = std::make_shared<quint64>(0);
    *id = runner_->start(
        s.tool, exportArguments(gdb_, table, exportFile(s.tempDir, table), structureFile(s.tempDir, table), s.tempDir),
        s.timeoutMs, [this, gen, table, id](const ProcessResult& r) {
          if (gen != generation_) return;
          processes_.remove(*id);
          exportDone(table, r);
        });
    processes_.insert(*id, table);
  }
}

bool Intake::essential(const QString& table) {
  return table == QLatin1String("TAB03002") || table == QLatin1String("TAB03003");
}

QString Intake::toolFailure(const QString& table, const ProcessResult& r, bool* fatal, QString* details) const {
  *fatal = false;
  switch (r.status) {
    case ProcessResult::FailedToStart:
      // No table can be read without the tool.
      *fatal = true;
      *details = r.errorOutput;
      return QStringLiteral("Não foi possível executar o programa de exportação:\r\n%1\r\n\r\nReinstale o programa.")
          .arg(QDir::toNativeSeparators(settings_.tool));
    case ProcessResult::Crashed: return QStringLiteral("o programa de exportação terminou de forma inesperada");
    case ProcessResult::TimedOut:
      return QStringLiteral("a leitura não terminou em %1 segundos e foi interrompida")
          .arg((settings_.timeoutMs + 999) / 1000);
    case ProcessResult::Finished: break;
  }
  if (r.exitCode != 0) {
    QString why = r.errorOutput.trimmed();
    if (why.startsWith(QLatin1String("fbexport: "))) why = why.mid(10);
    // Its output could not be written: the application folder's disk, which every table needs.
    if (r.exitCode == 3) {
      *fatal = true;
      *details = why;
      return diskFullMessage(settings_.tempDir);
    }
    if (isFileInUseError(why)) {
      *fatal = true;
      *details = why;
      return fileInUseMessage({});
    }
    if (why.isEmpty()) why = QStringLiteral("código de saída %1").arg(r.exitCode);
    return why;
  }
  Q_UNUSED(table);
  return QString();
}

void Intake::tableLost(const QString& table, const QString& reason) {
  QFile::remove(exportFile(settings_.tempDir, table));
  if (essential(table)) {
    fail(unreadableTableMessage(table, reason, engineRelease_), reason);
    return;
  }
  // The rest of the declaration still loads; the user decides whether to send it without this table.
  outcome_.lostTables.append({table, reason});
  unread_.insert(table);
  structures_.remove(table);
  tableDone();
}

void Intake::exportDone(const QString& table, const ProcessResult& r) {
  const QString structure = structureFile(settings_.tempDir, table);
  bool fatal = false;
  QString details;
  QString why = toolFailure(table, r, &fatal, &details);
  if (fatal) {
    QFile::remove(structure);
    fail(why, details);
    return;
  }
  if (!why.isEmpty() && r.status == ProcessResult::Finished && isMissingTableError(why)) {
    // A table the declaration lacks stays as the template has it: empty, nothing lost.
    QFile::remove(structure);
    QFile::remove(exportFile(settings_.tempDir, table));
    unread_.insert(table);
    tableDone();
    return;
  }
  if (why.isEmpty() && !QFileInfo::exists(exportFile(settings_.tempDir, table)))
    why = QStringLiteral("o programa de exportação não gerou o arquivo da tabela");
  DeclarationTable columns;
  if (why.isEmpty()) {
    QFile f(structure);
    if (!f.open(QIODevice::ReadOnly)) why = QStringLiteral("o programa de exportação não descreveu a tabela");
    else parseDeclarationStructure(f.readAll(), &columns, &why);
    if (columns.isEmpty() && why.isEmpty()) why = QStringLiteral("o programa de exportação não descreveu a tabela");
  }
  QFile::remove(structure);
  if (!why.isEmpty()) {
    tableLost(table, why);
    return;
  }
  structures_.insert(table, columns);
  tableDone();
}

void Intake::tableDone() {
  ++exportsDone_;
  const quint64 gen = generation_;
  emit advanced();
  if (gen != generation_) return;  // cancelled by a receiver of the signal
  if (exportsDone_ == settings_.tables.size()) {
    emit loadingStarted();
    if (gen == generation_) startLoading();
  } else {
    launchMore();
  }
}

void Intake::startLoading() {
  // The loading runs on a thread of its own with its own connection, so the window answers while
  // a large table loads; nothing here touches the members it uses until it has ended.
  db_.reset();
  stop_ = false;
  const quint64 gen = generation_;
  loader_.reset(QThread::create([this, gen] { loadAll(gen); }));
  connect(loader_.get(), &QThread::finished, this, [this, gen] {
    if (gen != generation_) return;
    stopLoader();
    done();
  });
  loader_->start();
}

void Intake::stopLoader() {
  if (!loader_) return;
  stop_ = true;
  loader_->wait();
  loader_.reset();
}

void Intake::post(quint64 gen, std::function<void()> f) {
  QMetaObject::invokeMethod(
      this,
      [this, gen, f = std::move(f)] {
        if (gen == generation_) f();
      },
      Qt::QueuedConnection);
}

void Intake::loadAll(quint64 gen) {
  try {
    loadAllTables(gen);
  } catch (const std::exception& e) {
    // Nothing may leave the thread; whatever stopped the loading ends the intake with its reason.
    outcome_.error = QStringLiteral("Não foi possível carregar a declaração no banco de dados de trabalho.");
    outcome_.details = QString::fromUtf8(e.what());
  }
}

void Intake::loadAllTables(quint64 gen) {
  std::unique_ptr<DbConnection> db;
  try {
    db = std::make_unique<DbConnection>(settings_.workDb);
  } catch (const DbError& e) {
    outcome_.error = QStringLiteral("Não foi possível abrir o banco de dados de trabalho:\r\n%1\r\n\r\n%2")
                         .arg(QDir::toNativeSeparators(settings_.workDb), e.description);
    return;
  }
  int shown = -1;
  LoadControl control;
  control.stop = &stop_;
  control.progress = [this, gen, &shown](int permille) {
    if (permille / 10 == shown) return;  // whole percents are enough for the eye
    shown = permille / 10;
    post(gen, [this, permille] { emit tableProgress(permille); });
  };
  for (const QString& table : std::as_const(settings_.tables)) {
    if (stop_) return;
    shown = -1;
    post(gen, [this, table] {
      emit occurrence(QStringLiteral("Passo 2: Carregando ") + table);
      emit tableProgress(0);
    });
    if (unread_.contains(table)) writeEmpty(*db, table);
    else loadDeclared(*db, table, control);
    if (stop_ || !outcome_.error.isEmpty()) return;  // a failed write ends the intake
    post(gen, [this] { emit advanced(); });
  }
  db.reset();
  if (access_ && outcome_.error.isEmpty()) {
    // Writing out the last pages of a large file takes a while too: here, off the window's thread.
    try {
      access_->finish();
      access_.reset();
    } catch (const jet::JetError& e) { writeFailed(outcome_, settings_.accessDb, QString::fromUtf8(e.what())); }
  }
}

void Intake::done() {
  db_.reset();
  if (outcome_.error.isEmpty() && !accessPart_.isEmpty()) {
    try {
      if (access_) access_->finish();  // the loader has done it, unless nothing was loaded
      access_.reset();
      if (!QFile::rename(accessPart_, settings_.accessDb))
        outcome_.error = QStringLiteral("Não foi possível gravar o banco de dados da declaração:\r\n%1")
                             .arg(QDir::toNativeSeparators(settings_.accessDb));
    } catch (const jet::JetError& e) { writeFailed(outcome_, settings_.accessDb, QString::fromUtf8(e.what())); }
  }
  dropAccess();
  // Both working databases whole, or neither: a failed intake leaves no zide.db to disagree.
  if (!outcome_.error.isEmpty()) dropWork();
  running_ = false;
  dropCopy();
  lock_.reset();
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

}  // namespace

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

void Intake::loadTable(DbConnection& db, const QString& table, const QString& exportPath, Outcome& outcome,
                       jet::JetWriter* access, const DeclarationTable* columns, const LoadControl* control) {
  outcome.tables.append(TableResult{table, 0, 0, {}});
  TableResult& result = outcome.tables.last();
  AccessTable target(access, table, columns, columns ? std::vector<jet::ColumnDef>() : accessColumns(db, table));
  const QList<bool> exact = columns ? exactColumns(*columns) : QList<bool>();
  QFile f(exportPath);
  if (!f.open(QIODevice::ReadOnly)) {
    noteFailure(outcome, result, QStringLiteral("o arquivo de exportação não pôde ser lido"));
    return;
  }
  if (f.size() == 0) return;  // an empty table
  // One row at a time: memory stays the size of a row whatever the size of the table.
  LineReader reader(f);
  QByteArray raw;
  reader.next(&raw);
  const auto statements = [&reader, &raw](qint64 n) {
    while (reader.next(&raw))
      if (!blank(raw.constBegin(), raw.constEnd())) ++n;
    return n;
  };
  if (raw.isEmpty() || raw.startsWith('\n')) {
    // A file that begins with an empty line loads nothing; what it holds is reported lost.
    // (A first line that is only a line feed and more text still counts as one of them.)
    noteFailure(outcome, result, QStringLiteral("o arquivo de exportação começa com uma linha vazia"),
                statements(blank(raw.constBegin(), raw.constEnd()) ? 0 : 1));
    return;
  }

  sqlite3* h = handleOf(db.db());
  if (!h) {
    noteFailure(outcome, result, QStringLiteral("banco de dados de trabalho indisponível"),
                statements(blank(raw.constBegin(), raw.constEnd()) ? 0 : 1));
    return;
  }
  const QString workFile = QString::fromUtf8(sqlite3_db_filename(h, "main"));
  // zide.db is rebuilt from the template at every intake: nothing is gained by flushing each table to disk.
  sqlite3_exec(h, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  if (sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    noteFailure(outcome, result, sqliteError(h), statements(blank(raw.constBegin(), raw.constEnd()) ? 0 : 1));
    return;
  }
  // The template is empty; this keeps the table to this declaration's rows whatever it held.
  const QByteArray name = table.toUtf8();
  sqlite3_exec(h, ("delete from " + name).constData(), nullptr, nullptr, nullptr);
  // A row the Access table cannot keep leaves zide.db too, so the two hold the same rows.
  sqlite3_stmt* undo = nullptr;
  if (access) sqlite3_prepare_v2(h, ("delete from " + name + " where rowid = ?").constData(), -1, &undo, nullptr);
  std::optional<AccessFeed> feed;
  if (access) feed.emplace(target);
  qint64 loaded = 0;
  qint64 seen = 0;
  for (bool more = true; more; more = reader.next(&raw)) {
    if (control && (++seen & 1023) == 0) {
      if (control->stop && control->stop->load()) {
        // Cancelled: the table's rows so far go back out; the outcome is not used.
        if (feed) feed->abandon();
        sqlite3_finalize(undo);
        sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
        return;
      }
      if (control->progress && f.size() > 0) control->progress(int(reader.consumed() * 1000 / f.size()));
    }
    const QString text = fromCp1252(raw);
    const QByteArray line = text.toUtf8();
    const char* b = line.constData();
    const char* e = b + line.size();
    if (blank(b, e)) continue;
    if (!insertInto(b, e, name)) {
      noteFailure(outcome, result,
                  QStringLiteral("comando não permitido: %1").arg(QString::fromUtf8(b, qMin<qsizetype>(e - b, 60))));
      continue;
    }
    const char* sb = b;
    const char* se = e;
    QByteArray rewritten;
    if (!exact.isEmpty()) {
      if (!quoteExactValues(QByteArray::fromRawData(b, e - b), exact, &rewritten)) {
        noteFailure(outcome, result, QStringLiteral("lista de valores ilegível"));
        continue;
      }
      sb = rewritten.constData();
      se = sb + rewritten.size();
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(h, sb, static_cast<int>(se - sb), &stmt, &tail) != SQLITE_OK || !stmt) {
      noteFailure(outcome, result, sqliteError(h));
      sqlite3_finalize(stmt);
      continue;
    }
    if (tail && !blank(tail, se)) {
      noteFailure(outcome, result, QStringLiteral("mais de um comando na mesma linha"));
      sqlite3_finalize(stmt);
      continue;
    }
    const int rc = sqlite3_step(stmt);
    const bool stored = rc == SQLITE_DONE;
    if (!stored && writeFault(rc)) {
      // Not this row's fault: the file cannot be written, and nothing of the table is kept.
      const QString why = sqliteError(h);
      sqlite3_finalize(stmt);
      if (feed) feed->abandon();
      sqlite3_finalize(undo);
      sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
      writeFailed(outcome, workFile, why, (rc & 0xff) == SQLITE_FULL);
      return;
    }
    if (!stored) noteFailure(outcome, result, sqliteError(h));
    sqlite3_finalize(stmt);
    if (!stored) continue;
    if (feed) feed->push(text, sqlite3_last_insert_rowid(h));
    ++loaded;
  }
  if (feed) {
    const auto refused = feed->finish();
    if (!target.writeError().isEmpty()) {
      // zide.mdb lost rows to the disk, not to their values: the intake cannot go on.
      sqlite3_finalize(undo);
      sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
      writeFailed(outcome, workFile, target.writeError());
      return;
    }
    for (const auto& [rowid, why] : refused) {
      sqlite3_bind_int64(undo, 1, rowid);
      const int rc = sqlite3_step(undo);
      sqlite3_reset(undo);
      if (writeFault(rc)) {
        const QString error = sqliteError(h);
        sqlite3_finalize(undo);
        sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
        writeFailed(outcome, workFile, error, (rc & 0xff) == SQLITE_FULL);
        return;
      }
      noteFailure(outcome, result, why);
      --loaded;
    }
  }
  sqlite3_finalize(undo);
  if (sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    // The table's rows are in zide.mdb already: a commit that fails ends the intake, so the two
    // databases never disagree about them.
    const int rc = sqlite3_extended_errcode(h);
    const QString why = sqliteError(h);
    sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
    writeFailed(outcome, workFile, why, (rc & 0xff) == SQLITE_FULL);
    return;
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
      writeFailed(outcome_, settings_.workDb, error, (rc & 0xff) == SQLITE_FULL);
      return;
    }
    outcome_.lostTables.append({table, error});
    writeEmpty(db, table);
    return;
  }
  loadTable(db, table, path, outcome_, access_.get(), it != structures_.cend() ? &*it : nullptr, &control);
  QFile::remove(path);
  if (stop_ || !outcome_.error.isEmpty()) return;
  if (it != structures_.cend() && h && !trimFixedText(h, table, *it, &error)) {
    if (const int rc = sqlite3_extended_errcode(h); writeFault(rc))
      writeFailed(outcome_, settings_.workDb, error, (rc & 0xff) == SQLITE_FULL);
    else outcome_.lostTables.append({table, error});
  }
}

void Intake::writeEmpty(DbConnection& db, const QString& table) {
  // The Access database still has the table, with the template's columns and no rows, so that it
  // is whole for whoever reads it.
  AccessTable target(access_.get(), table, nullptr, accessColumns(db, table));
  target.create();
  if (!target.writeError().isEmpty()) writeFailed(outcome_, settings_.workDb, target.writeError());
}
