// One program per data folder, with the real program: a second start is refused and touches
// nothing; the lock of a killed program is taken over.
#include <QDirIterator>
#include <QProcess>
#include <QtTest>

#include "base/instancelock.h"
#include "support/testenv.h"

namespace {
// Every file under the folder with its size and time of change.
QStringList snapshot(const QString& root) {
  QStringList out;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo fi(it.next());
    out << QDir(root).relativeFilePath(fi.filePath()) + ' ' + QString::number(fi.size()) + ' ' +
               QString::number(fi.lastModified().toMSecsSinceEpoch());
  }
  out.sort();
  return out;
}

void prepare(QProcess& p, const QString& home, bool quitWhenShown) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("ZIDE_HOME", home);
  env.insert("QT_QPA_PLATFORM", "offscreen");
  if (quitWhenShown) env.insert("ZIDE_QUIT_WHEN_SHOWN", "1");
  else env.remove("ZIDE_QUIT_WHEN_SHOWN");
  p.setProcessEnvironment(env);
  p.setProgram(builtProgram("zide"));
}
}  // namespace

class TstInstanceLock : public QObject {
  Q_OBJECT
 private slots:
  void inProcess();
  void twoStarts();
};

void TstInstanceLock::inProcess() {
  TestAppFolder app;
  InstanceLock first, second;
  QVERIFY(first.acquire());
  QVERIFY(!second.acquire());  // held by a live program (this one)
  QVERIFY(QFileInfo::exists(InstanceLock::path()));
}

void TstInstanceLock::twoStarts() {
  TestAppFolder app;
  app.writeSettings("127.0.0.1", "1");
  QProcess first;
  prepare(first, app.path(), false);
  first.start();
  QVERIFY(first.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(InstanceLock::path()), 30000);
  QTest::qWait(200);
  const QStringList before = snapshot(app.path());

  QProcess second;
  prepare(second, app.path(), true);
  second.start();
  QVERIFY(second.waitForFinished(30000));
  QCOMPARE(second.exitCode(), 1);
  const QString said = QString::fromUtf8(second.readAllStandardError());
  QVERIFY2(said.contains("O programa já está aberto nesta pasta de dados"), qPrintable(said));
  QCOMPARE(snapshot(app.path()), before);
  QCOMPARE(first.state(), QProcess::Running);

  // Killed, the first program leaves its lock behind; the next start takes it over.
  first.kill();
  QVERIFY(first.waitForFinished(10000));
  QVERIFY(QFileInfo::exists(InstanceLock::path()));
  QProcess third;
  prepare(third, app.path(), true);
  third.start();
  QVERIFY(third.waitForFinished(30000));
  const QString thirdSaid = QString::fromUtf8(third.readAllStandardError());
  QVERIFY2(third.exitCode() == 0 && !thirdSaid.contains("já está aberto"), qPrintable(thirdSaid));
}

QTEST_GUILESS_MAIN(TstInstanceLock)
#include "tst_instancelock.moc"
