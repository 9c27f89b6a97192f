#include "testenv.h"

#include <QCoreApplication>
#include <QFile>

#include "base/settings.h"

TestAppFolder::TestAppFolder() : oldHome_(qgetenv("ZIDE_HOME")) {
  qputenv("ZIDE_HOME", dir_.path().toLocal8Bit());
  InitSettingsPath();
}

TestAppFolder::~TestAppFolder() {
  if (oldHome_.isEmpty()) qunsetenv("ZIDE_HOME");
  else qputenv("ZIDE_HOME", oldHome_);
  InitSettingsPath();
}

void TestAppFolder::write(const QString& name, const QByteArray& contents) const {
  QFile f(file(name));
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(contents);
}

void TestAppFolder::writeSettings(const QString& host, const QString& port) const {
  write(QStringLiteral("diziz.ini"), "[servidor]\r\nhost=" + host.toLatin1() + "\r\nport=" + port.toLatin1() + "\r\n");
}

QString testData(const QString& relative) { return QString::fromLocal8Bit(qgetenv("ZIDE_TEST_DATA")) + '/' + relative; }

QString builtProgram(const QString& name) {
  const QByteArray bin = qgetenv("ZIDE_BIN");
  return (bin.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(bin)) + '/' + name;
}
