#include "transmission/intake.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <optional>

#include "access/jetwriter.h"
#include "base/appfolder.h"
#include "base/cp1252.h"
#include "base/privatefile.h"
#include "base/processrunner.h"
#include "registry/localdb.h"
#include "transmission/declarationfile.h"
#include "transmission/insertparse.h"
#include "transmission/intakefaults.h"

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
  result_ = Result();
  workMade_ = false;
  structures_.clear();
  unread_.clear();
  nextExport_ = exportsDone_ = 0;
  if (!checkInstallation() || !checkDeclaration() || !prepareOutputs()) return;
  // The engine writes into the file it opens: the exports read a copy, so the accountant's own
  // declaration is never touched. Without a copy (no room, unreadable) the tool reads the original
  // and reports what it finds there.
  const QString copy = settings_.tempDir + QStringLiteral("/declaracao.gdb");
  QString why;
  bool full = false;
  if (PrivateFile::copy(gdb_, copy, &why, &full)) {
    copy_ = copy;
    gdb_ = copy;
  } else if (full) {
    fail(diskFullMessage(QFileInfo(settings_.workDb).absolutePath()), why);
    return;
  }
  launchMore();
}

// The private temporary folder, the template and the export tool; false once the failure is shown.
bool Intake::checkInstallation() {
  const Settings& s = settings_;
  // Private: the exports and any copy of the declaration the tool makes live here.
  if (!QDir().mkpath(s.tempDir) ||
      !QFile::setPermissions(s.tempDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
    fail(QStringLiteral("Não foi possível criar a pasta temporária:\r\n%1").arg(QDir::toNativeSeparators(s.tempDir)));
    return false;
  }
  if (!QFileInfo(s.templatePath).isFile()) {
    fail(QStringLiteral("O banco de dados modelo não foi encontrado:\r\n%1\r\n\r\nReinstale o programa.")
             .arg(QDir::toNativeSeparators(s.templatePath)));
    return false;
  }
  const QFileInfo tool(s.tool);
  if (!tool.isFile() || !tool.isExecutable()) {
    fail(QStringLiteral("O programa de exportação não foi encontrado:\r\n%1\r\n\r\nReinstale o programa.")
             .arg(QDir::toNativeSeparators(s.tool)));
    return false;
  }
  return true;
}

// The chosen file itself, before any program reads it (what it is decides the message), and room
// for what the intake makes of it; false once the failure is shown.
bool Intake::checkDeclaration() {
  QFile chosen(gdb_);
  if (!chosen.open(QIODevice::ReadOnly)) {
    fail(QStringLiteral("O arquivo escolhido não pôde ser aberto para leitura: o usuário não tem permissão "
                        "para lê-lo, ou outro programa o mantém bloqueado."),
         chosen.errorString());
    return false;
  }
  const DeclarationFileCheck check = checkDeclarationHeader(chosen.read(1024), chosen.size());
  const qint64 declarationSize = chosen.size();
  chosen.close();
  if (check.kind != DeclarationFileCheck::Ok) {
    fail(check.message);
    return false;
  }
  engineRelease_ = engineGeneration(check.odsMajor, check.odsMinor);
  // Room for the copy the exports read and the working database, which is about as large.
  const QString workFolder = QFileInfo(settings_.workDb).absolutePath();
  const QStorageInfo disk(workFolder);
  if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < 2 * declarationSize + (1 << 20)) {
    fail(diskFullMessage(workFolder));
    return false;
  }
  return true;
}

// The run's lock, a fresh working database, the Access writer and no export of an earlier intake;
// false once the failure is shown.
bool Intake::prepareOutputs() {
  const Settings& s = settings_;
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
    return false;
  }
  workMade_ = true;
  try {
    db_ = std::make_unique<DbConnection>(s.workDb);
    db_->query(QStringLiteral("select count(*) from sqlite_master"));  // a copy that is no database fails here
  } catch (const DbError& e) {
    db_.reset();
    fail(QStringLiteral("Não foi possível abrir o banco de dados de trabalho:\r\n%1\r\n\r\n%2")
             .arg(QDir::toNativeSeparators(s.workDb), e.description));
    return false;
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
    return false;
  }
  // An export left by an earlier intake must never pass for this declaration's.
  for (const QString& t : s.tables) {
    QFile::remove(exportFile(s.tempDir, t));
    QFile::remove(structureFile(s.tempDir, t));
  }
  return true;
}

void Intake::fail(const QString& message, const QString& details) {
  stopProcesses();
  db_.reset();
  dropAccess();
  dropWork();
  result_.error = message;
  // The engine names the file it read, our copy: the user knows his own file.
  result_.details = details;
  if (!copy_.isEmpty()) {
    result_.details.replace(copy_, chosen_);
    result_.details.replace(QDir::toNativeSeparators(copy_), QDir::toNativeSeparators(chosen_));
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
  result_.lostTables.append({table, reason});
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
    result_.error = QStringLiteral("Não foi possível carregar a declaração no banco de dados de trabalho.");
    result_.details = QString::fromUtf8(e.what());
  }
}

void Intake::loadAllTables(quint64 gen) {
  std::unique_ptr<DbConnection> db;
  try {
    db = std::make_unique<DbConnection>(settings_.workDb);
  } catch (const DbError& e) {
    result_.error = QStringLiteral("Não foi possível abrir o banco de dados de trabalho:\r\n%1\r\n\r\n%2")
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
    if (stop_ || !result_.error.isEmpty()) return;  // a failed write ends the intake
    post(gen, [this] { emit advanced(); });
  }
  db.reset();
  if (access_ && result_.error.isEmpty()) {
    // Writing out the last pages of a large file takes a while too: here, off the window's thread.
    try {
      access_->finish();
      access_.reset();
    } catch (const jet::JetError& e) { writeFailed(result_, settings_.accessDb, QString::fromUtf8(e.what())); }
  }
}

void Intake::done() {
  db_.reset();
  if (result_.error.isEmpty() && !accessPart_.isEmpty()) {
    try {
      if (access_) access_->finish();  // the loader has done it, unless nothing was loaded
      access_.reset();
      if (!QFile::rename(accessPart_, settings_.accessDb))
        result_.error = QStringLiteral("Não foi possível gravar o banco de dados da declaração:\r\n%1")
                            .arg(QDir::toNativeSeparators(settings_.accessDb));
    } catch (const jet::JetError& e) { writeFailed(result_, settings_.accessDb, QString::fromUtf8(e.what())); }
  }
  dropAccess();
  // Both working databases whole, or neither: a failed intake leaves no zide.db to disagree.
  if (!result_.error.isEmpty()) dropWork();
  running_ = false;
  dropCopy();
  lock_.reset();
  ++generation_;
  emit finished(result_);
}
