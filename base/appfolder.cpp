#include "base/appfolder.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "base/privatefile.h"

namespace AppFolder {

namespace {

QString helperOverride;

QString withoutTrailingSlash(QString dir) {
  while (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
  return dir;
}

QString exeDir() { return QCoreApplication::applicationDirPath(); }

// The installation prefix of an installed tree (bin/..): shipped files are found from the
// executable wherever the tree was unpacked.
QString installed(const QString& sub, const QString& name) {
  return QDir::cleanPath(exeDir() + QStringLiteral("/../") + sub + QStringLiteral("/zide/") + name);
}

}  // namespace

QString path() {
  const QString home = qEnvironmentVariable("ZIDE_HOME");
  if (!home.isEmpty()) return withoutTrailingSlash(home);
  const QString exe = exeDir();
  if (QFileInfo::exists(exe + QStringLiteral("/diziz.ini"))) return exe;
  // Follows XDG_DATA_HOME, else ~/.local/share.
  return withoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) +
         QStringLiteral("/zide");
}

QString file(const QString& name) { return path() + '/' + name; }

QString shipped(const QString& name) {
  const QString own = file(name);
  if (QFileInfo::exists(own)) return own;
  const QString beside = exeDir() + '/' + name;
  if (QFileInfo::exists(beside)) return beside;
  const QString share = installed(QStringLiteral("share"), name);
  if (QFileInfo::exists(share)) return share;
  return beside;
}

QString helper(const QString& name) {
  if (!helperOverride.isEmpty()) return helperOverride + '/' + name;
  const QString beside = exeDir() + '/' + name;
  if (QFileInfo::exists(beside)) return beside;
  const QString lib = installed(QStringLiteral("lib"), name);
  if (QFileInfo::exists(lib)) return lib;
  return beside;
}

void setHelperFolderForTests(const QString& folder) { helperOverride = withoutTrailingSlash(folder); }

void restrictNewFiles() { ::umask(077); }

bool prepare(QString* error) {
  const QString dir = path();
  auto failed = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (!QFileInfo(dir).isDir()) {
    // The parents (~/.local/share) are ordinary folders; the data folder itself is the user's alone.
    const QString parent = QFileInfo(dir).absolutePath();
    if (!QDir().mkpath(parent) || !QDir().mkdir(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
      return failed(QStringLiteral("Não foi possível criar a pasta %1").arg(QDir::toNativeSeparators(dir)));
  }
  const QString settings = dir + QStringLiteral("/diziz.ini");
  if (QFileInfo::exists(settings)) return true;
  const QString source = shipped(QStringLiteral("diziz.ini"));
  if (source == settings || !QFileInfo::exists(source)) return true;  // nothing shipped: no settings, as before
  // A new file of the user's alone; a dangling link at its name is replaced, never written through.
  if (!PrivateFile::copy(source, settings))
    return failed(QStringLiteral("Não foi possível criar o arquivo %1").arg(QDir::toNativeSeparators(settings)));
  return true;
}

}  // namespace AppFolder
