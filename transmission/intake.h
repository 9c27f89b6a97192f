#pragma once
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "transmission/declarationstructure.h"

class DbConnection;
class QLockFile;
class ProcessRunner;
struct ProcessResult;
namespace jet {
class JetWriter;
struct ColumnDef;
}  // namespace jet

// Turns a ZIDE declaration (.GDB) into the declaration's Access database zide.mdb, the file that
// is sent, and into the SQLite working database zide.db (a copy of the empty template) that the
// program queries: runs the export tool once per table (several at once, each with a time limit)
// and loads each table's INSERT statements into both, a row reaching both or neither. Runs on the
// window's thread without blocking it: start() returns at once and finished() reports the outcome.
class Intake : public QObject {
  Q_OBJECT
 public:
  // The declaration's tables, in the order they are processed.
  static const QString kTableList;
  static QStringList tables();

  struct Settings {
    QString tool;          // the export tool
    QString templatePath;  // zide_limpo.db
    QString workDb;        // zide.db
    QString accessDb;      // zide.mdb
    QString tempDir;       // where the export files go
    QStringList tables;
    int parallel = 1;   // exports running at once
    int timeoutMs = 0;  // per table
  };
  // The application folder's: shipped fbexport and zide_limpo.db, zide.db and temp/ in the
  // folder, one export per core, two minutes per table.
  static Settings defaultSettings();
  // "<temp>/export<TABLE>.txt"
  static QString exportFile(const QString& tempDir, const QString& table);
  // "<temp>/estrutura<TABLE>.txt": the table's structure as the export tool describes it.
  static QString structureFile(const QString& tempDir, const QString& table);
  // "<temp>/preparacao.lock": held by the program whose intake is running.
  static QString lockFile(const QString& tempDir);
  // At start: removes what an intake that never ended left (its exports, its copy of the
  // declaration, a half-written zide.mdb, a half-loaded zide.db), unless an intake of another
  // program is running on the same folders. Only the names an intake writes; what was removed.
  static QStringList removeLeftovers(const Settings& s);
  // Tables the reference list needs: without them the intake cannot go on.
  static bool essential(const QString& table);

  // What became of one table of the declaration.
  struct TableResult {
    QString table;
    int rows = 0;                // rows in zide.mdb (and zide.db)
    int lost = 0;                // statements of the export that reached neither
    QMap<QString, int> reasons;  // why they were lost, with how many each
  };

  struct Result {
    bool cancelled = false;
    // The first part failed (template, zide.db, the tool, the temp folder): what to tell the user.
    QString error;
    QString details;  // with it, the technical text behind the error (the engine's words)
    int loadedStatements = 0;
    // Statements of the declaration that did not reach zide.db, and the first of them.
    int failedStatements = 0;
    QString firstFailedTable;
    QString firstFailedError;
    QList<TableResult> tables;  // in the order they were loaded
    // Tables of the declaration that could not be read at all (name, reason); their rows are lost.
    QList<QPair<QString, QString>> lostTables;
    bool ok() const { return !cancelled && error.isEmpty(); }
  };

  explicit Intake(QObject* parent = nullptr);
  ~Intake() override;

  // New settings end a run in progress: its loading thread reads them.
  void setSettings(const Settings& s) {
    if (running_) cancel();
    settings_ = s;
  }
  const Settings& settings() const { return settings_; }

  // Starts converting `gdbPath`; a conversion still running is abandoned first.
  void start(const QString& gdbPath);
  // Abandons a running conversion: its programs are killed and finished() is not emitted.
  void cancel();
  bool isRunning() const { return running_; }

  // Loads one export file into `table` of an open database, in one transaction, and, with a
  // writer, into a new table of the Access database: a row the one refuses is taken out of the
  // other. Adds to the outcome's counts. With the table's declared columns, exact decimals keep
  // all their digits and the Access table takes the declaration's own types. Public for the
  // benchmark and the tools.
  // Lets a long load be followed and stopped: `progress` gets the share of the export read so far
  // (0 to 1000), `stop` is looked at between rows; a stopped table keeps none of its rows.
  struct LoadControl {
    const std::atomic<bool>* stop = nullptr;
    std::function<void(int permille)> progress;
    // Reports `done` of `size` bytes read; false once stopped.
    bool keepGoing(qint64 done, qint64 size) const;
  };
  static void loadTable(DbConnection& db, const QString& table, const QString& exportPath, Result& outcome,
                        jet::JetWriter* access = nullptr, const DeclarationTable* columns = nullptr,
                        const LoadControl* control = nullptr);

  // The Access columns of a table the export tool could not describe: the declared types of the
  // template's table of that name, in the order of `columns` when given (the declaration's own
  // order, from its export), else in the template's order. Columns the template lacks are left out.
  static std::vector<jet::ColumnDef> accessColumns(DbConnection& db, const QString& table,
                                                   const QStringList& columns = {});

 signals:
  // The text that names the step and table being processed ("Passo 1: Preparando TAB01001").
  void occurrence(const QString& text);
  // One table finished its current step.
  void advanced();
  // Every export is done; loading begins.
  void loadingStarted();
  // How much of the table being loaded is in, 0 to 1000.
  void tableProgress(int permille);
  void finished(const Intake::Result& outcome);

 private:
  // Ends the run with a message for the user and the technical text (the engine's, the tool's).
  void fail(const QString& message, const QString& details = {});
  bool checkInstallation();
  bool checkDeclaration();
  bool prepareOutputs();
  void launchMore();
  void exportDone(const QString& table, const ProcessResult& r);
  // Why a run of the tool failed, or empty when it did its work.
  QString toolFailure(const QString& table, const ProcessResult& r, bool* fatal, QString* details) const;
  void tableLost(const QString& table, const QString& reason);
  void tableDone();
  void startLoading();
  void stopLoader();
  // Runs on the loader's thread.
  void loadAll(quint64 gen);
  void loadAllTables(quint64 gen);
  void loadDeclared(DbConnection& db, const QString& table, const LoadControl& control);
  void writeEmpty(DbConnection& db, const QString& table);
  // Runs `f` on this object's thread unless the run has ended by then.
  void post(quint64 gen, std::function<void()> f);
  void stopProcesses();
  void done();
  void dropCopy();
  void dropAccess();
  // Removes the working database this run made (zide.db and its journals).
  void dropWork();

  Settings settings_;
  QString gdb_;
  QString chosen_;         // the user's own file
  QString engineRelease_;  // the engine release that wrote it, in words
  QString copy_;           // the copy of the declaration the exports read, removed at the end
  bool running_ = false;
  quint64 generation_ = 0;
  int nextExport_ = 0;
  int exportsDone_ = 0;
  ProcessRunner* runner_ = nullptr;    // the one that started this run's programs
  QHash<quint64, QString> processes_;  // runner id -> table
  std::unique_ptr<DbConnection> db_;
  std::unique_ptr<jet::JetWriter> access_;
  QString accessPart_;     // zide.mdb while it is written; renamed when complete
  bool workMade_ = false;  // zide.db is this run's
  Result result_;
  QHash<QString, DeclarationTable> structures_;  // tables the declaration has, with their columns
  QSet<QString> unread_;                         // tables not to load: missing or lost
  std::unique_ptr<QThread> loader_;              // the loading, once every export is done
  std::atomic<bool> stop_{false};
  std::unique_ptr<QLockFile> lock_;  // preparacao.lock while running
};
