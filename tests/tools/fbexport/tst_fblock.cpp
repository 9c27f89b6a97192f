#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>

#include <QtTest>

#include "support/intakesupport.h"
#include "support/testenv.h"

// Where the export tool keeps the engine's lock folder and configuration: the session's runtime
// folder, else a folder of its own run. A folder someone else made first at the old fixed place
// ($TMPDIR/zide-firebird-<uid>) neither stops the export nor gets used.
namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

}  // namespace

class TstFbLock : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void oldPlaceTakenByOthers_data();
  void oldPlaceTakenByOthers();
  void runtimeFolderWhenTheSessionHasOne();
  void severalProcessesWithoutASharedLock();
  void killedRunLeavesItsCopyOnlyInTheCallersFolder();

 private:
  // Runs the tool on one table; its output file.
  QByteArray exportTable(const QString& table, const QString& name);
  QTemporaryDir dir_;
  QString gdb_;
  QString tmp_;  // this test's TMPDIR
  std::unique_ptr<QTemporaryDir> tmpDir_;
};

void TstFbLock::initTestCase() {
  gdb_ = dir_.filePath("zide.gdb");
  QVERIFY(makeDeclaration(gdb_, {"--rows-each", "0", "--rows", "TAB03004=2000"}));
}

void TstFbLock::init() {
  // Each case makes its own places; the lock folder is the tool's to choose.
  qunsetenv("FIREBIRD_LOCK");
  qunsetenv("XDG_RUNTIME_DIR");
  tmpDir_ = std::make_unique<QTemporaryDir>(dir_.filePath("tmp-XXXXXX"));  // not inside the last TMPDIR
  tmp_ = tmpDir_->path();
  qputenv("TMPDIR", tmp_.toLocal8Bit());
}

QByteArray TstFbLock::exportTable(const QString& table, const QString& name) {
  const QString out = dir_.filePath(name);
  QFile::remove(out);
  const RunResult r =
      runProgram(builtProgram("fbexport"), {"-D", gdb_, "-U", "SYSDBA", "-P", "x", "-Si", "-V", table, "-F", out});
  if (r.exitCode != 0) qWarning("fbexport: %s", r.err.constData());
  return r.exitCode == 0 ? readAll(out) : QByteArray();
}

void TstFbLock::oldPlaceTakenByOthers_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("pasta aberta a todos") << "0777";
  QTest::newRow("pasta 0755") << "0755";
  QTest::newRow("atalho para outra pasta") << "symlink";
  QTest::newRow("arquivo") << "file";
  QTest::newRow("de outro usuário") << "foreign";
}

void TstFbLock::oldPlaceTakenByOthers() {
  QFETCH(QString, how);
  const QString old = QString("%1/zide-firebird-%2").arg(tmp_).arg(geteuid());
  const QString elsewhere = dir_.filePath("alheia");
  QDir().mkpath(elsewhere);
  if (how == "symlink") {
    QVERIFY(QFile::link(elsewhere, old));
  } else if (how == "file") {
    QFile f(old);
    QVERIFY(f.open(QIODevice::WriteOnly));
  } else {
    QVERIFY(QDir().mkdir(old));
    QCOMPARE(chmod(old.toLocal8Bit().constData(), how == "0755" ? 0755 : how == "foreign" ? 0700 : 0777), 0);
    if (how == "foreign") {
      if (geteuid() != 0) QSKIP("only root can make a folder of another user");
      QCOMPARE(chown(old.toLocal8Bit().constData(), 65534, 65534), 0);
    }
  }

  const QByteArray out = exportTable("TAB03004", "velha.txt");
  QCOMPARE(out.count("\r\n"), 2000);
  // Nothing was put in the old place or behind the link; the run's own folder is gone.
  if (how != "file") QCOMPARE(entries(old), QStringList());
  QCOMPARE(entries(elsewhere), QStringList());
  QCOMPARE(entries(tmp_), QStringList({QFileInfo(old).fileName()}));
}

void TstFbLock::runtimeFolderWhenTheSessionHasOne() {
  QTemporaryDir runtime(dir_.filePath("run-XXXXXX"));  // made 0700, as a session's runtime folder is
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  const QByteArray out = exportTable("TAB03004", "runtime.txt");
  QCOMPARE(out.count("\r\n"), 2000);
  const QString base = runtime.filePath("zide-firebird");
  struct stat st {};
  QCOMPARE(lstat(base.toLocal8Bit().constData(), &st), 0);
  QVERIFY(S_ISDIR(st.st_mode));
  QCOMPARE(st.st_mode & 07777, mode_t(0700));
  QCOMPARE(st.st_uid, geteuid());
  QVERIFY(entries(base).contains("lock"));
  QCOMPARE(entries(tmp_), QStringList());  // nothing in the shared temporary folder

  // A runtime folder others may enter is not the session's: the run uses a folder of its own.
  QTemporaryDir openDir(dir_.filePath("run-XXXXXX"));
  QCOMPARE(chmod(openDir.path().toLocal8Bit().constData(), 0755), 0);
  qputenv("XDG_RUNTIME_DIR", openDir.path().toLocal8Bit());
  QCOMPARE(exportTable("TAB03004", "aberta.txt"), out);
  QCOMPARE(entries(openDir.path()), QStringList());
  QCOMPARE(entries(tmp_), QStringList());
  qunsetenv("XDG_RUNTIME_DIR");
}

void TstFbLock::severalProcessesWithoutASharedLock() {
  // Each run then has a lock folder of its own, so none may open the file in place together with
  // another: they all read private copies and all get the whole table.
  QList<QProcess*> procs;
  for (int i = 0; i < 4; ++i) {
    auto* p = new QProcess(this);
    p->start(builtProgram("fbexport"), {"-D", gdb_, "-U", "SYSDBA", "-P", "x", "-Si", "-V", "TAB03004", "-F",
                                        dir_.filePath(QString("par%1.txt").arg(i))});
    procs << p;
  }
  for (QProcess* p : procs) {
    QVERIFY(p->waitForFinished(60000));
    QVERIFY2(p->exitCode() == 0, p->readAllStandardError());
  }
  qDeleteAll(procs);
  const QByteArray first = readAll(dir_.filePath("par0.txt"));
  QCOMPARE(first.count("\r\n"), 2000);
  for (int i = 1; i < 4; ++i) QCOMPARE(readAll(dir_.filePath(QString("par%1.txt").arg(i))), first);
  QCOMPARE(entries(tmp_), QStringList());
}

void TstFbLock::killedRunLeavesItsCopyOnlyInTheCallersFolder() {
  // Without a shared lock folder the tool reads a private copy; killed the moment it makes one, the
  // copy must be in the folder the caller named (which the caller cleans), nowhere else.
  QTemporaryDir copies(dir_.filePath("copias-XXXXXX"));
  const int watch = inotify_init1(IN_CLOEXEC);
  QVERIFY(watch >= 0);
  auto closeWatch = qScopeGuard([watch] { close(watch); });
  QVERIFY(inotify_add_watch(watch, copies.path().toLocal8Bit().constData(), IN_CREATE) >= 0);
  QProcess p;
  p.start(builtProgram("fbexport"),
          {"-D", gdb_, "-Si", "-V", "TAB03004", "-F", dir_.filePath("morto.txt"), "--copias", copies.path()});
  QVERIFY(p.waitForStarted());
  pollfd pf{watch, POLLIN, 0};
  QVERIFY2(poll(&pf, 1, 30000) == 1, "no copy was made in the folder given");
  ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
  QVERIFY(p.waitForFinished(30000));
  QCOMPARE(p.exitStatus(), QProcess::CrashExit);
  // The run's own folder stays behind in TMPDIR (nobody cleaned it), but holds no copy, whole or cut.
  for (QDirIterator it(tmp_, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
       it.hasNext();) {
    const QString path = it.next();
    QVERIFY2(!path.contains("/copias") && !path.endsWith(".gdb"), qPrintable(path));
  }
  QCOMPARE(entries(copies.path()).size(), 1);
}

QTEST_GUILESS_MAIN(TstFbLock)
#include "tst_fblock.moc"
