#pragma once
#include <QString>
#include <QTemporaryDir>

#include "transmission/intake.h"

// A declaration taken in apart from the application folder's working files, which a window may be
// using: zide.db, zide.mdb and the exports in a temporary folder that goes away with this object.
struct WorkSet {
  QTemporaryDir dir;
  Intake::Settings settings;
  Intake::Result outcome;
  // Runs the intake of `gdb` and waits for it; false when the folder could not be made (the
  // outcome's error says why the intake itself failed).
  bool takeIn(const QString& gdb);
};
