#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

// Reading Access (.mdb) files with libmdb: NovaGIA exports and an earlier installation's registry.
// Access passwords do not apply: libmdb reads Jet 4 files whether or not one is set.

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

// Reads the table; throws AccessError when the file cannot be opened as an Access file or has no
// such table.
AccessTable ReadAccessTable(const QString& path, const QString& table);
