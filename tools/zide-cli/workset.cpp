#include "workset.h"

#include <QEventLoop>

bool WorkSet::takeIn(const QString& gdb) {
  if (!dir.isValid()) return false;
  settings = Intake::defaultSettings();
  settings.workDb = dir.filePath(QStringLiteral("zide.db"));
  settings.accessDb = dir.filePath(QStringLiteral("zide.mdb"));
  settings.tempDir = dir.filePath(QStringLiteral("temp"));
  Intake intake;
  intake.setSettings(settings);
  QEventLoop loop;
  QObject::connect(&intake, &Intake::finished, &loop, [&](const Intake::Result& o) {
    outcome = o;
    loop.quit();
  });
  intake.start(gdb);
  loop.exec();
  return true;
}
