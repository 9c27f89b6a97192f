#include "base/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace AppFolder {

QString path() {
  const QString home = qEnvironmentVariable("ZIDE_HOME");
  QString dir = home.isEmpty() ? QCoreApplication::applicationDirPath() : home;
  while (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
  return dir;
}

QString file(const QString& name) { return path() + '/' + name; }

QString shipped(const QString& name) {
  const QString own = file(name);
  if (QFileInfo::exists(own)) return own;
  return QCoreApplication::applicationDirPath() + '/' + name;
}

}  // namespace AppFolder
