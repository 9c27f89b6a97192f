#pragma once
#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

#include "access/jetwriter.h"

// One INSERT statement as the export tool writes it, read into values:
//   INSERT INTO TABLE (COL, ...) VALUES ('text' || char(13, 10) || 'more', 12.50, NULL, X'0AFF');
// Texts keep their characters, numbers stay as their text (the Access writer converts them
// exactly for the column), X'..' becomes bytes. Anything else (another statement, a second
// statement after the first, an expression) is refused with the reason in *error.
struct ParsedInsert {
  QString table;
  QStringList columns;
  std::vector<jet::Value> values;
};
bool parseInsert(QStringView statement, ParsedInsert* out, QString* error);
