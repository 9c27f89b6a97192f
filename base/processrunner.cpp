#include "base/processrunner.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <QEventLoop>
#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <optional>

namespace {

class QtProcessRunner final : public ProcessRunner {
 public:
  quint64 start(const QString& program, const QStringList& arguments, int timeoutMs, Done done) override {
    ProcessLimits limits;
    limits.timeoutMs = timeoutMs;
    return launch(program, arguments, limits, false, std::move(done));
  }

  quint64 startLimited(const QString& program, const QStringList& arguments, const ProcessLimits& limits,
                       Done done) override {
    return launch(program, arguments, limits, true, std::move(done));
  }

  void cancel(quint64 id) override {
    QProcess* p = running_.take(id);
    if (!p) return;
    p->disconnect();
    if (p->state() != QProcess::NotRunning) {
      p->kill();
      p->waitForFinished(2000);  // reaps it; a killed process ends at once
    }
    p->deleteLater();
  }

 private:
  // What a limited run wrote so far, within its limits.
  struct Kept {
    qint64 maxOut = 0, maxErr = 0;
    QByteArray out, err;
    bool cut = false;
  };

  static void drain(QProcess* p, Kept& k) {
    k.out += p->readAllStandardOutput();
    if (k.maxOut > 0 && k.out.size() > k.maxOut && !k.cut) {
      k.cut = true;
      k.out.truncate(k.maxOut);
      p->kill();
    }
    if (k.cut) k.out.truncate(k.maxOut);
    const QByteArray more = p->readAllStandardError();
    if (k.err.size() < k.maxErr) k.err += more.left(k.maxErr - k.err.size());
  }

  quint64 launch(const QString& program, const QStringList& arguments, const ProcessLimits& limits, bool limited,
                 Done done) {
    const int timeoutMs = limits.timeoutMs;
    const quint64 id = ++last_;
    auto* p = new QProcess;
    p->setProgram(program);
    p->setArguments(arguments);
    p->setStandardInputFile(QProcess::nullDevice());
    running_.insert(id, p);
    auto timedOut = std::make_shared<bool>(false);
    auto kept = std::make_shared<Kept>();
    if (!limited) {
      p->setStandardOutputFile(QProcess::nullDevice());
    } else {
      const rlim_t memory = limits.memoryBytes;
      // Whole seconds of CPU, a little above the wall-clock limit: a child that outlives us (or a
      // runner that fails to kill it) still stops.
      const rlim_t cpu = timeoutMs > 0 ? rlim_t(timeoutMs / 1000 + 2) : 0;
      p->setChildProcessModifier([memory, cpu] {
        // Runs between fork and exec: only async-signal-safe calls.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (memory) {
          const rlimit r{memory, memory};
          setrlimit(RLIMIT_AS, &r);
        }
        if (cpu) {
          const rlimit r{cpu, cpu + 1};
          setrlimit(RLIMIT_CPU, &r);
        }
      });
      kept->maxOut = limits.outputBytes;
      kept->maxErr = limits.errorBytes;
      QObject::connect(p, &QProcess::readyReadStandardOutput, p, [p, kept] { drain(p, *kept); });
      QObject::connect(p, &QProcess::readyReadStandardError, p, [p, kept] { drain(p, *kept); });
    }

    auto* timer = new QTimer(p);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, p, [p, timedOut] {
      *timedOut = true;
      p->kill();
    });
    QObject::connect(
        p, &QProcess::errorOccurred, p,
        [this, id, p, done](QProcess::ProcessError e) {
          if (e != QProcess::FailedToStart) return;  // the others also end in finished()
          ProcessResult r;
          r.status = ProcessResult::FailedToStart;
          r.exitCode = -1;
          r.errorOutput = p->errorString();
          finish(id, r, done);
        },
        Qt::QueuedConnection);  // start() may report this before it returns the id
    QObject::connect(p, &QProcess::finished, p,
                     [this, id, p, done, timedOut, kept, limited](int code, QProcess::ExitStatus how) {
                       ProcessResult r;
                       r.exitCode = code;
                       if (limited) {
                         drain(p, *kept);  // what is left in the pipes, under the same limits
                         r.output = kept->out;
                         r.outputCut = kept->cut;
                         r.errorOutput = QString::fromLocal8Bit(kept->err).trimmed();
                       } else {
                         r.errorOutput = QString::fromLocal8Bit(p->readAllStandardError()).trimmed();
                       }
                       if (*timedOut) r.status = ProcessResult::TimedOut;
                       else if (how == QProcess::CrashExit || r.outputCut) r.status = ProcessResult::Crashed;
                       finish(id, r, done);
                     });
    p->start(QIODevice::ReadOnly);
    if (timeoutMs > 0) timer->start(timeoutMs);
    return id;
  }

  void finish(quint64 id, const ProcessResult& r, const Done& done) {
    QProcess* p = running_.take(id);
    if (!p) return;
    const Done call = done;  // the connection that holds `done` goes away with disconnect()
    p->disconnect();
    p->deleteLater();
    call(r);
  }

  quint64 last_ = 0;
  QHash<quint64, QProcess*> running_;
};

QtProcessRunner g_real;
ProcessRunner* g_current = &g_real;

}  // namespace

ProcessRunner& ProcessRunner::current() { return *g_current; }

void ProcessRunner::install(ProcessRunner* replacement) { g_current = replacement ? replacement : &g_real; }

quint64 ProcessRunner::startLimited(const QString& program, const QStringList& arguments, const ProcessLimits& limits,
                                    Done done) {
  return g_real.startLimited(program, arguments, limits, std::move(done));
}

ProcessResult ProcessRunner::runLimited(const QString& program, const QStringList& arguments,
                                        const ProcessLimits& limits) {
  QEventLoop loop;
  std::optional<ProcessResult> result;
  current().startLimited(program, arguments, limits, [&](const ProcessResult& r) {
    result = r;
    loop.quit();
  });
  if (!result) loop.exec(QEventLoop::ExcludeUserInputEvents);
  return *result;
}
