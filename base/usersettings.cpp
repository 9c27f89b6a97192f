#include "base/usersettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "base/appfolder.h"

namespace {
QString userSettingsFile() { return AppFolder::file(QStringLiteral("zide-usuario.ini")); }
}  // namespace

QString ReadUserSetting(const QString& key) {
  return QSettings(userSettingsFile(), QSettings::IniFormat).value(key).toString();
}

void WriteUserSetting(const QString& key, const QString& value) {
  const QString path = userSettingsFile();
  // QSettings writes through a link to its target: a link planted here goes first.
  if (QFileInfo(path).isSymLink()) QFile::remove(path);
  {
    QSettings s(path, QSettings::IniFormat);
    s.setValue(key, value);
  }
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
