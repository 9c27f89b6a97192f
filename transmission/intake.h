#pragma once
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

#include "transmission/declarationstructure.h"

class DbConnection;
class ProcessRunner;
struct ProcessResult;

// Turns a ZIDE declaration (.GDB) into the working database: copies the empty template to
// zide.db, runs the export tool once per table (several at once, each with a time limit) and
// loads each table's INSERT statements in one transaction. Runs on the window's thread without
// blocking it: start() returns at once and finished() reports the outcome.
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
  // Tables the reference list needs: without them the intake cannot go on.
  static bool essential(const QString& table);

  struct Outcome {
    bool cancelled = false;
    // The first part failed (template, zide.db, the tool, the temp folder): what to tell the user.
    QString error;
    int loadedStatements = 0;
    // Statements of the declaration that did not reach zide.db, and the first of them.
    int failedStatements = 0;
    QString firstFailedTable;
    QString firstFailedError;
    // Tables of the declaration that could not be read at all (name, reason); their rows are lost.
    QList<QPair<QString, QString>> lostTables;
    bool ok() const { return !cancelled && error.isEmpty(); }
  };

  explicit Intake(QObject* parent = nullptr);
  ~Intake() override;

  void setSettings(const Settings& s) { settings_ = s; }
  const Settings& settings() const { return settings_; }

  // Starts converting `gdbPath`; a conversion still running is abandoned first.
  void start(const QString& gdbPath);
  // Abandons a running conversion: its programs are killed and finished() is not emitted.
  void cancel();
  bool isRunning() const { return running_; }

  // Loads one export file into `table` of an open database, in one transaction; adds to the
  // outcome's counts. With the table's declared columns, exact decimals keep all their digits.
  // Public for the benchmark.
  static void loadTable(DbConnection& db, const QString& table, const QString& exportPath, Outcome& outcome,
                        const DeclarationTable* columns = nullptr);

 signals:
  // The text that names the step and table being processed ("Passo 1: Preparando TAB01001").
  void occurrence(const QString& text);
  // One table finished its current step.
  void advanced();
  // Every export is done; loading begins.
  void loadingStarted();
  void finished(const Intake::Outcome& outcome);

 private:
  void fail(const QString& message);
  void launchMore();
  void runTool(const QString& table, const QStringList& args,
               void (Intake::*then)(const QString&, const ProcessResult&));
  void structureDone(const QString& table, const ProcessResult& r);
  void exportDone(const QString& table, const ProcessResult& r);
  // Why a run of the tool failed, or empty when it did its work.
  QString toolFailure(const QString& table, const ProcessResult& r, bool* fatal) const;
  void tableLost(const QString& table, const QString& reason);
  void tableDone();
  void loadNext();
  void loadDeclared(const QString& table);
  void stopProcesses();
  void done();
  void dropCopy();

  Settings settings_;
  QString gdb_;
  QString copy_;  // the copy of the declaration the exports read, removed at the end
  bool running_ = false;
  quint64 generation_ = 0;
  int nextExport_ = 0;
  int exportsDone_ = 0;
  int nextLoad_ = 0;
  ProcessRunner* runner_ = nullptr;    // the one that started this run's programs
  QHash<quint64, QString> processes_;  // runner id -> table
  std::unique_ptr<DbConnection> db_;
  Outcome outcome_;
  QHash<QString, DeclarationTable> structures_;  // tables the declaration has, with their columns
  QSet<QString> unread_;                         // tables not to load: missing or lost
};
