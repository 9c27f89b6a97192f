#include "base/usersettings.h"

#include <QSettings>

#include "base/appfolder.h"

namespace {
QString userSettingsFile() { return AppFolder::file(QStringLiteral("zide-usuario.ini")); }
}  // namespace

QString ReadUserSetting(const QString& key) {
  return QSettings(userSettingsFile(), QSettings::IniFormat).value(key).toString();
}

void WriteUserSetting(const QString& key, const QString& value) {
  QSettings s(userSettingsFile(), QSettings::IniFormat);
  s.setValue(key, value);
}
