#include "support/intakesupport.h"

#include <QEventLoop>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include "support/testenv.h"

FirebirdLock::FirebirdLock() : old_(qgetenv("FIREBIRD_LOCK")) { qputenv("FIREBIRD_LOCK", dir_.path().toLocal8Bit()); }

FirebirdLock::~FirebirdLock() {
  if (old_.isEmpty()) qunsetenv("FIREBIRD_LOCK");
  else qputenv("FIREBIRD_LOCK", old_);
}

Intake::Result runIntake(Intake& intake, const QString& gdb) {
  Intake::Result result;
  result.error = QStringLiteral("não terminou");
  QEventLoop loop;
  QObject::connect(&intake, &Intake::finished, &loop, [&](const Intake::Result& r) {
    result = r;
    loop.quit();
  });
  QTimer::singleShot(120000, &loop, &QEventLoop::quit);
  intake.start(gdb);
  loop.exec();
  return result;
}

Intake::Result runIntake(const QString& gdb) {
  Intake intake;
  return runIntake(intake, gdb);
}

RunResult runProgram(const QString& program, const QStringList& args, const QByteArray& input, int timeoutMs) {
  QProcess p;
  p.start(program, args);
  RunResult r;
  if (!p.waitForStarted(10000)) return r;
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

bool makeDeclaration(const QString& path, const QStringList& args) {
  const RunResult r = runProgram(builtProgram(QStringLiteral("gdbfixture")), QStringList{path, "--quiet"} + args);
  if (r.exitCode != 0) qWarning("gdbfixture failed: %s", r.err.constData());
  return r.exitCode == 0;
}

ScriptedRunner::ScriptedRunner() : real_(ProcessRunner::current()) { ProcessRunner::install(this); }

ScriptedRunner::~ScriptedRunner() {
  for (quint64 id : realIds_) real_.cancel(id);
  ProcessRunner::install(nullptr);
}

QString ScriptedRunner::option(const QStringList& args, const QString& opt) {
  const qsizetype i = args.indexOf(opt);
  return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : QString();
}

quint64 ScriptedRunner::start(const QString& program, const QStringList& arguments, int timeoutMs, Done done) {
  starts.append({program, arguments, timeoutMs});
  const quint64 id = ++last_;
  live_.insert(id);
  maxRunning = qMax(maxRunning, ++running_);
  const QString table = option(arguments, "-V");
  const QString exportPath = option(arguments, "-F");
  auto finish = [this, id, done](const ProcessResult& r) {
    realIds_.remove(id);
    if (!live_.remove(id)) return;
    --running_;
    done(r);
  };
  if (answer) {
    if (auto r = answer(table)) {
      QTimer::singleShot(0, &context_, [finish, r = *r] { finish(r); });
      return id;
    }
  }
  QString prog = program;
  QStringList args = arguments;
  if (replace) {
    if (auto other = replace(table)) {
      prog = other->first();
      args = other->mid(1);
    }
  }
  // Only a table's rows are edited, never the description of its structure.
  const bool rows = arguments.contains(QStringLiteral("-Si"));
  realIds_.insert(id,
                  real_.start(prog, args, timeoutMs, [this, finish, table, exportPath, rows](const ProcessResult& r) {
                    if (edit && rows && r.status == ProcessResult::Finished && r.exitCode == 0) edit(table, exportPath);
                    finish(r);
                  }));
  return id;
}

void ScriptedRunner::cancel(quint64 id) {
  if (live_.remove(id)) --running_;
  if (realIds_.contains(id)) real_.cancel(realIds_.take(id));
}
