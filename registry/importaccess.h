#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

#include "base/processrunner.h"

// Reading Access (.mdb) files: NovaGIA exports and an earlier installation's registry. libmdb runs
// in the shipped helper zide-mdbread, under a time and memory limit, never in this process: a
// damaged or hostile file can only end that helper. Access passwords do not apply: libmdb reads
// Jet 4 files whether or not one is set.

struct AccessError : std::runtime_error {
  explicit AccessError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// A whole table as text: the column names in their order and one list of values per row. Booleans
// come as "1"/"0"; a Null and an empty text both come as an empty text.
struct AccessTable {
  QStringList columns;
  QList<QStringList> rows;
  // The value of a named column (any case); empty when there is no such column.
  QString value(int row, const QString& column) const;
};

// Reads the table; throws AccessError when the file cannot be opened as an Access file, has no
// such table, or the helper fails, crashes or runs out of its limits on it.
AccessTable ReadAccessTable(const QString& path, const QString& table);

// The helper's standard output (tools/mdbread/mdbdump.h) as a table. Throws AccessError on
// anything but one whole, well-formed table: every row has one value per column.
AccessTable ParseAccessDump(const QByteArray& dump);

// The helper that reads Access files and the limits it runs under.
struct AccessReader {
  QString program;  // the shipped zide-mdbread
  ProcessLimits limits;
  static AccessReader standard();
};
// Another reader for this process (tests, the fuzzer: shorter limits, another build folder);
// nullptr restores the standard one. Not owned.
void InstallAccessReader(const AccessReader* reader);
