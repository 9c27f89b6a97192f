#include "transmission/processrunner.h"

#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QTimer>

namespace {

class QtProcessRunner final : public ProcessRunner {
 public:
  quint64 start(const QString& program, const QStringList& arguments, int timeoutMs, Done done) override {
    const quint64 id = ++last_;
    auto* p = new QProcess;
    p->setProgram(program);
    p->setArguments(arguments);
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardInputFile(QProcess::nullDevice());
    running_.insert(id, p);
    auto timedOut = std::make_shared<bool>(false);

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
    QObject::connect(p, &QProcess::finished, p, [this, id, p, done, timedOut](int code, QProcess::ExitStatus how) {
      ProcessResult r;
      r.exitCode = code;
      r.errorOutput = QString::fromLocal8Bit(p->readAllStandardError()).trimmed();
      if (*timedOut) r.status = ProcessResult::TimedOut;
      else if (how == QProcess::CrashExit) r.status = ProcessResult::Crashed;
      finish(id, r, done);
    });
    p->start(QIODevice::ReadOnly);
    if (timeoutMs > 0) timer->start(timeoutMs);
    return id;
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
