#pragma once
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>

#include "base/processrunner.h"
#include "transmission/intake.h"

// A Firebird lock folder of this test's own (set as FIREBIRD_LOCK for the test and its programs).
class FirebirdLock {
 public:
  FirebirdLock();
  ~FirebirdLock();

 private:
  QTemporaryDir dir_;
  QByteArray old_;
};

// Runs gdbfixture; fails the test (returns false) with its error output when it fails.
bool makeDeclaration(const QString& path, const QStringList& args = {});

// Runs one intake to its end; one still running after two minutes gives an error.
Intake::Result runIntake(Intake& intake, const QString& gdb);
// The same on an intake of its own, with the default settings.
Intake::Result runIntake(const QString& gdb);

struct RunResult {
  int exitCode = -1;
  QByteArray out, err;
};
// Runs a built program (or any program) and waits for it.
RunResult runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                     int timeoutMs = 60000);

// Stands in for the real process runner: records every start, can answer for a table without
// running anything, can run another program instead, and can edit an export once the real tool
// has written it. Everything else goes to the real runner.
class ScriptedRunner : public ProcessRunner {
 public:
  ScriptedRunner();
  ~ScriptedRunner() override;

  struct Start {
    QString program;
    QStringList arguments;
    int timeoutMs;
  };
  QList<Start> starts;
  int maxRunning = 0;

  // A result to give for a table instead of running the tool.
  std::function<std::optional<ProcessResult>(const QString& table)> answer;
  // Another program (and arguments) to run for a table instead of the tool.
  std::function<std::optional<QStringList>(const QString& table)> replace;
  // Runs after the real tool wrote a table's rows (-Si) successfully.
  std::function<void(const QString& table, const QString& exportPath)> edit;

  quint64 start(const QString& program, const QStringList& arguments, int timeoutMs, Done done) override;
  void cancel(quint64 id) override;

  static QString option(const QStringList& args, const QString& opt);

 private:
  ProcessRunner& real_;
  QObject context_;  // scripted answers die with the runner
  quint64 last_ = 0;
  int running_ = 0;
  QHash<quint64, quint64> realIds_;
  QSet<quint64> live_;
};
