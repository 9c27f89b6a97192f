#include <QRegularExpression>

#include "access/jetwriter.h"

namespace jet {

// Why each choice is made: access/README.md.
ColumnDef columnForFirebirdType(const QString& name, const QString& firebirdType, bool* ok) {
  static const QRegularExpression shape(
      QStringLiteral(
          R"(^\s*([A-Z ]+?)\s*(?:\(\s*(\d+)\s*(?:,\s*(\d+)\s*)?\))?\s*(?:SUB_TYPE\s+(\w+))?\s*(?:CHARACTER SET\s+\w+)?\s*$)"),
      QRegularExpression::CaseInsensitiveOption);
  ColumnDef c;
  c.name = name;
  if (ok) *ok = true;
  const auto m = shape.match(firebirdType);
  const QString base = m.captured(1).simplified().toUpper();
  const int n = m.captured(2).isEmpty() ? -1 : m.captured(2).toInt();
  const int scale = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
  const QString sub = m.captured(4).toUpper();
  if (!m.hasMatch()) {
    if (ok) *ok = false;
    return c;
  }
  if (base == QLatin1String("SMALLINT")) {
    c.type = ColumnType::Integer;
  } else if (base == QLatin1String("INTEGER") || base == QLatin1String("INT")) {
    c.type = ColumnType::Long;
  } else if (base == QLatin1String("BIGINT")) {
    c.type = ColumnType::Numeric, c.precision = 19, c.scale = 0;
  } else if (base == QLatin1String("NUMERIC") || base == QLatin1String("DECIMAL")) {
    c.type = ColumnType::Numeric;
    c.precision = n < 1 ? 18 : std::min(n, 28);
    c.scale = std::min(scale, c.precision);
  } else if (base == QLatin1String("FLOAT")) {
    c.type = ColumnType::Single;
  } else if (base == QLatin1String("DOUBLE PRECISION") || base == QLatin1String("DOUBLE")) {
    c.type = ColumnType::Double;
  } else if (base == QLatin1String("DATE") || base == QLatin1String("TIME") || base == QLatin1String("TIMESTAMP")) {
    c.type = ColumnType::DateTime;
  } else if (base == QLatin1String("CHAR") || base == QLatin1String("VARCHAR") || base == QLatin1String("CHARACTER") ||
             base == QLatin1String("CHARACTER VARYING")) {
    const int len = n < 1 ? 1 : n;
    if (len <= 255) {
      c.type = ColumnType::Text, c.length = len;
    } else {
      c.type = ColumnType::Memo;
    }
  } else if (base == QLatin1String("BLOB")) {
    c.type = sub == QLatin1String("TEXT") || sub == QLatin1String("1") ? ColumnType::Memo : ColumnType::Ole;
  } else if (base == QLatin1String("BOOLEAN")) {
    c.type = ColumnType::Boolean;
  } else {
    if (ok) *ok = false;
  }
  return c;
}

}  // namespace jet
