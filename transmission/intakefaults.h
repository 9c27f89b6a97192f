#pragma once
#include <QString>

#include "transmission/intake.h"

// Shared by the two halves of the intake (intake.cpp, intakeload.cpp): a database file, not a row,
// failed.

// A write that failed (disk full, I/O error) ends the whole intake: both working databases go, and
// the user is told the disk is full when it is. `file` is one of them, in the data folder.
void writeFailed(Intake::Result& o, const QString& file, const QString& why, bool full = false);
// SQLite could not write the file (full, failing, or held by another program): no row of the
// table is at fault, and going on would leave the two databases disagreeing.
bool writeFault(int rc);
