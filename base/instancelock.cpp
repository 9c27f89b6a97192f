#include "base/instancelock.h"

#include <QDir>

#include "base/appfolder.h"

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() = default;

QString InstanceLock::path() { return AppFolder::file(QStringLiteral("zide.lock")); }

QString InstanceLock::busyMessage() {
  return QStringLiteral(
             "O programa já está aberto nesta pasta de dados (%1).\r\n\r\nUse a janela que já está aberta; duas "
             "cópias na mesma pasta misturariam as declarações em preparo.")
      .arg(QDir::toNativeSeparators(AppFolder::path()));
}

bool InstanceLock::acquire() {
  if (held()) return true;
  file_ = std::make_unique<QLockFile>(path());
  // Only a lock whose program is gone is stale, however old it is.
  file_->setStaleLockTime(0);
  if (file_->tryLock(0)) return true;
  file_.reset();
  return false;
}

bool InstanceLock::held() const { return file_ && file_->isLocked(); }
