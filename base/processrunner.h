#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// How one run of an external program ended.
struct ProcessResult {
  enum Status { Finished, FailedToStart, Crashed, TimedOut };
  Status status = Finished;
  int exitCode = 0;
  QString errorOutput;     // standard error, or the reason it could not start
  QByteArray output;       // standard output, for runs started with limits
  bool outputCut = false;  // it wrote more than its limit allowed and was killed (status Crashed)
};

// What a program reading untrusted input may take: a hostile file must not freeze or exhaust the
// program that asked for it.
struct ProcessLimits {
  int timeoutMs = 0;          // wall clock; then it is killed and reported as TimedOut (0: none)
  quint64 memoryBytes = 0;    // its address space (RLIMIT_AS); 0: none
  qint64 outputBytes = 0;     // standard output kept; a program writing more is killed (0: none)
  qint64 errorBytes = 65536;  // standard error kept; the rest is dropped
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
  // Starts `program` under `limits`, keeping its standard output in the result. The child also gets
  // a CPU-time limit and dies with this process. A replacement that does not play these runs hands
  // them to the real runner.
  virtual quint64 startLimited(const QString& program, const QStringList& arguments, const ProcessLimits& limits,
                               Done done);
  // startLimited on the current runner, waiting for the end on a local event loop that holds user
  // input back (windows repaint meanwhile).
  static ProcessResult runLimited(const QString& program, const QStringList& arguments, const ProcessLimits& limits);

  static ProcessRunner& current();
  // Installs another implementation (tests); nullptr restores the real one. Not owned.
  static void install(ProcessRunner* replacement);
};
