#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// How one run of an external program ended.
struct ProcessResult {
  enum Status { Finished, FailedToStart, Crashed, TimedOut };
  Status status = Finished;
  int exitCode = 0;
  QString errorOutput;  // standard error, or the reason it could not start
};

// The one way the program runs other programs: an argument list, never a shell, hidden, and
// without blocking the window's thread. Tests install a replacement to play a missing, crashing
// or hanging program.
class ProcessRunner {
 public:
  using Done = std::function<void(const ProcessResult&)>;
  virtual ~ProcessRunner() = default;

  // Starts `program`; `done` runs once, on this thread, when it ends. A program still running
  // after timeoutMs is killed and reported as TimedOut. Returns an id for cancel().
  virtual quint64 start(const QString& program, const QStringList& arguments, int timeoutMs, Done done) = 0;
  // Kills a program started here; its `done` is not called any more.
  virtual void cancel(quint64 id) = 0;

  static ProcessRunner& current();
  // Installs another implementation (tests); nullptr restores the real one. Not owned.
  static void install(ProcessRunner* replacement);
};
