#include "transmission/declarationstructure.h"

#include <sqlite3.h>
#include <QRegularExpression>

#include <algorithm>
#include <cctype>

#include "base/cp1252.h"

bool DeclarationColumn::isText() const {
  return type == QLatin1String("CHAR") || type == QLatin1String("VARCHAR") || type == QLatin1String("CSTRING") ||
         (type == QLatin1String("BLOB") && subType == 1);
}

bool DeclarationColumn::isScaled() const {
  return scale < 0 && (type == QLatin1String("SMALLINT") || type == QLatin1String("INTEGER") ||
                       type == QLatin1String("BIGINT") || type == QLatin1String("INT128"));
}

namespace {

bool toInt(const QString& s, int* v, bool emptyIsZero) {
  if (s.isEmpty()) {
    *v = 0;
    return emptyIsZero;
  }
  bool ok = false;
  *v = s.toInt(&ok);
  return ok;
}

QString quoted(const QString& name) {
  QString q = name;
  q.replace(QLatin1Char('"'), QLatin1String("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

}  // namespace

bool parseDeclarationStructure(const QByteArray& bytes, DeclarationTable* table, QString* error) {
  table->clear();
  const QString text = fromCp1252(bytes);
  if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n'))) {
    *error = QStringLiteral("descrição da tabela incompleta");
    return false;
  }
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    QString line = lines.at(i);
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.isEmpty()) {
      if (i == lines.size() - 1) break;  // after the last line ending
      *error = QStringLiteral("linha %1 da descrição da tabela vazia").arg(i + 1);
      return false;
    }
    const QStringList f = line.split(QLatin1Char('\t'));
    DeclarationColumn c;
    bool ok = f.size() == 9;
    if (ok) {
      c.name = f[0];
      c.type = f[1];
      c.charset = f[7];
      ok = !c.name.isEmpty() && !c.type.isEmpty() && toInt(f[2], &c.subType, true) && toInt(f[3], &c.length, false) &&
           toInt(f[4], &c.chars, true) && toInt(f[5], &c.scale, true) && toInt(f[6], &c.precision, true) &&
           (f[8] == QLatin1String("NULL") || f[8] == QLatin1String("NOT NULL")) && c.length >= 0 && c.chars >= 0;
      c.nullable = f[8] == QLatin1String("NULL");
    }
    if (!ok) {
      *error = QStringLiteral("linha %1 da descrição da tabela ilegível: %2").arg(i + 1).arg(line.left(60));
      return false;
    }
    for (const DeclarationColumn& other : std::as_const(*table)) {
      if (other.name.compare(c.name, Qt::CaseInsensitive) == 0) {
        *error = QStringLiteral("coluna %1 repetida na descrição da tabela").arg(c.name);
        return false;
      }
    }
    table->append(c);
  }
  if (table->isEmpty()) {
    *error = QStringLiteral("a tabela não tem colunas");
    return false;
  }
  return true;
}

QString sqliteColumnDeclaration(const DeclarationColumn& c) {
  QString type;
  const int size = c.chars > 0 ? c.chars : c.length;
  if (c.isScaled()) {
    // Text affinity ("TEXT" in the name): the digits stay as written, trailing zeros included,
    // where a numeric affinity would turn them into a double.
    const jet::ColumnDef exact = accessColumn(c);
    type = QStringLiteral("%1 TEXT(%2,%3)")
               .arg(c.subType == 2 ? QLatin1String("DECIMAL") : QLatin1String("NUMERIC"))
               .arg(exact.precision)
               .arg(exact.scale);
  } else if (c.type == QLatin1String("BIGINT")) {
    // A NUMERIC(18,0) is kept in a BIGINT too: the digits stay in the name for its Access column.
    const int digits = accessColumn(c).precision;
    type = digits == 19 ? c.type : QStringLiteral("BIGINT(%1)").arg(digits);
  } else if (c.type == QLatin1String("SMALLINT") || c.type == QLatin1String("INTEGER")) {
    type = c.type;
  } else if (c.type == QLatin1String("FLOAT")) {
    type = QStringLiteral("FLOAT");  // a double in SQLite too; the name keeps the Access column a Single
  } else if (c.type == QLatin1String("DOUBLE PRECISION") || c.type == QLatin1String("D_FLOAT")) {
    type = QStringLiteral("DOUBLE PRECISION");  // dialect 1 NUMERIC as well: a double holds it
  } else if (c.type == QLatin1String("DATE") || c.type == QLatin1String("TIME") ||
             c.type == QLatin1String("TIMESTAMP") || c.type == QLatin1String("BOOLEAN")) {
    type = c.type;
  } else if (c.type == QLatin1String("CHAR")) {
    type = QStringLiteral("CHAR(%1) COLLATE RTRIM").arg(size);
  } else if (c.type == QLatin1String("VARCHAR") || c.type == QLatin1String("CSTRING")) {
    type = QStringLiteral("VARCHAR(%1)").arg(size);
  } else if (c.type == QLatin1String("BLOB")) {
    type = c.subType == 1 ? QStringLiteral("BLOB SUB_TYPE TEXT") : QStringLiteral("BLOB");
  }
  // Anything else keeps whatever value the export writes (no affinity).
  QString decl = quoted(c.name);
  if (!type.isEmpty()) decl += QLatin1Char(' ') + type;
  if (!c.nullable) decl += QLatin1String(" NOT NULL");
  return decl;
}

jet::ColumnDef accessColumn(const DeclarationColumn& c) {
  jet::ColumnDef d;
  d.name = c.name;
  const QString& t = c.type;
  if (c.isScaled() || t == QLatin1String("BIGINT") || t == QLatin1String("INT128")) {
    // Exact numbers: the digits the engine can hold, at most what Access can.
    const int held = t == QLatin1String("SMALLINT")  ? 4
                     : t == QLatin1String("INTEGER") ? 9
                     : t == QLatin1String("BIGINT")  ? 19
                                                     : 28;
    d.type = jet::ColumnType::Numeric;
    d.precision = std::clamp(c.precision > 0 ? c.precision : held, 1, 28);
    d.scale = std::min(-c.scale, d.precision);
  } else if (t == QLatin1String("SMALLINT")) {
    d.type = jet::ColumnType::Integer;
  } else if (t == QLatin1String("INTEGER")) {
    d.type = jet::ColumnType::Long;
  } else if (t == QLatin1String("FLOAT")) {
    d.type = jet::ColumnType::Single;
  } else if (t == QLatin1String("DOUBLE PRECISION") || t == QLatin1String("D_FLOAT")) {
    d.type = jet::ColumnType::Double;
  } else if (t == QLatin1String("DATE") || t == QLatin1String("TIME") || t == QLatin1String("TIMESTAMP")) {
    d.type = jet::ColumnType::DateTime;
  } else if (t == QLatin1String("BOOLEAN")) {
    d.type = jet::ColumnType::Boolean;
  } else if (t == QLatin1String("CHAR") || t == QLatin1String("VARCHAR") || t == QLatin1String("CSTRING")) {
    const int size = c.chars > 0 ? c.chars : c.length;
    if (size >= 1 && size <= 255) d.type = jet::ColumnType::Text, d.length = size;
    else d.type = jet::ColumnType::Memo;
  } else if (t == QLatin1String("BLOB") && c.subType != 1) {
    d.type = jet::ColumnType::Ole;
  } else {
    // Text blobs, and any type Access has no better place for, keep their values as text.
    d.type = jet::ColumnType::Memo;
  }
  return d;
}

jet::ColumnDef accessColumnOfWorking(const QString& name, const QString& declaredType) {
  // What SQLite alone needs (the collation, the text affinity of exact decimals) is no part of the type.
  static const QRegularExpression collate(QStringLiteral("\\s+COLLATE\\s+\\w+"),
                                          QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression exactText(QStringLiteral("^\\s*(NUMERIC|DECIMAL)\\s+TEXT\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
  QString type = declaredType;
  type.remove(collate);
  type.replace(exactText, QStringLiteral("\\1"));
  bool ok = false;
  jet::ColumnDef d = jet::columnForFirebirdType(name, type, &ok);
  // A type the map does not know kept its values as text.
  if (!ok) d.type = jet::ColumnType::Memo;
  static const QRegularExpression bigint(QStringLiteral("^\\s*BIGINT\\s*\\(\\s*(\\d+)\\s*\\)\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
  if (const auto m = bigint.match(type); m.hasMatch()) d.precision = std::clamp(m.captured(1).toInt(), 1, 28);
  return d;
}

QString sqliteCreateTable(const QString& table, const DeclarationTable& columns) {
  QStringList cols;
  for (const DeclarationColumn& c : columns) cols << sqliteColumnDeclaration(c);
  return QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(table), cols.join(QLatin1String(", ")));
}

QStringList exportArguments(const QString& gdb, const QString& table, const QString& output, const QString& structure,
                            const QString& copies) {
  return {QStringLiteral("-D"),
          gdb,
          QStringLiteral("-U"),
          QStringLiteral("SYSDBA"),
          QStringLiteral("-P"),
          QStringLiteral("gatehouse"),
          QStringLiteral("-Si"),
          QStringLiteral("-V"),
          table,
          QStringLiteral("-F"),
          output,
          QStringLiteral("-E"),
          structure,
          QStringLiteral("--copias"),
          copies};
}

bool isMissingTableError(const QString& errorOutput) {
  return errorOutput.contains(QStringLiteral("não existe no arquivo"));
}

namespace {

bool exec(sqlite3* db, const QString& sql, QString* error) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
  *error = QString::fromUtf8(msg ? msg : sqlite3_errmsg(db));
  sqlite3_free(msg);
  return false;
}

// The template table's primary key columns, in key order.
QStringList keyColumns(sqlite3* db, const QString& table) {
  QStringList keys;
  sqlite3_stmt* st = nullptr;
  const QByteArray sql = "PRAGMA table_info(" + quoted(table).toUtf8() + ")";
  if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) return keys;
  QList<QPair<int, QString>> found;
  while (sqlite3_step(st) == SQLITE_ROW) {
    const int pk = sqlite3_column_int(st, 5);
    if (pk > 0) found.append({pk, QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)))});
  }
  sqlite3_finalize(st);
  std::sort(found.begin(), found.end());
  for (const auto& k : found) keys << k.second;
  return keys;
}

}  // namespace

bool replaceWorkingTable(sqlite3* db, const QString& table, const DeclarationTable& columns, QString* error) {
  QStringList keys = keyColumns(db, table);
  QStringList keyList;
  for (const QString& k : std::as_const(keys)) {
    bool present = false;
    for (const DeclarationColumn& c : columns) present = present || c.name.compare(k, Qt::CaseInsensitive) == 0;
    if (!present) {
      keyList.clear();
      break;
    }
    keyList << quoted(k);
  }
  if (!exec(db, QStringLiteral("DROP TABLE IF EXISTS ") + quoted(table), error)) return false;
  if (!exec(db, sqliteCreateTable(table, columns), error)) return false;
  if (keyList.isEmpty()) return true;
  return exec(db,
              QStringLiteral("CREATE UNIQUE INDEX %1 ON %2 (%3)")
                  .arg(quoted(QStringLiteral("chave_") + table), quoted(table), keyList.join(QLatin1String(", "))),
              error);
}

bool trimFixedText(sqlite3* db, const QString& table, const DeclarationTable& columns, QString* error) {
  QStringList sets;
  for (const DeclarationColumn& c : columns)
    if (c.isFixedText()) sets << QStringLiteral("%1 = rtrim(%1, ' ')").arg(quoted(c.name));
  if (sets.isEmpty()) return true;
  return exec(db, QStringLiteral("UPDATE %1 SET %2").arg(quoted(table), sets.join(QLatin1String(", "))), error);
}

QList<bool> exactColumns(const DeclarationTable& columns) {
  QList<bool> exact;
  bool any = false;
  for (const DeclarationColumn& c : columns) {
    exact.append(c.isScaled());
    any = any || c.isScaled();
  }
  if (!any) exact.clear();
  return exact;
}

bool quoteExactValues(const QByteArray& s, const QList<bool>& exact, QByteArray* out) {
  const qsizetype open = s.indexOf(") VALUES (");
  if (open < 0) return false;
  QByteArray r;
  r.reserve(s.size() + 2 * exact.size());
  qsizetype i = open + 10;
  r.append(s.constData(), i);
  int column = 0;
  while (true) {
    // One value: from here to the next comma or closing parenthesis outside strings and calls.
    const qsizetype begin = i;
    int depth = 0;
    bool inString = false;
    for (; i < s.size(); ++i) {
      const char ch = s.at(i);
      if (inString) {
        if (ch == '\'') {
          if (i + 1 < s.size() && s.at(i + 1) == '\'') ++i;
          else inString = false;
        }
      } else if (ch == '\'') {
        inString = true;
      } else if (ch == '(') {
        ++depth;
      } else if (ch == ')' || ch == ',') {
        if (depth == 0) break;
        if (ch == ')') --depth;
      }
    }
    if (i >= s.size() || inString) return false;
    QByteArray value = s.mid(begin, i - begin);
    const QByteArray bare = value.trimmed();
    const bool number = !bare.isEmpty() && (isdigit(static_cast<unsigned char>(bare.at(0))) || bare.at(0) == '-');
    if (column < exact.size() && exact.at(column) && number) {
      for (char ch : bare)
        if (!isdigit(static_cast<unsigned char>(ch)) && ch != '-' && ch != '.') return false;
      value = '\'' + bare + '\'';
    }
    r.append(value);
    r.append(s.at(i));
    ++column;
    if (s.at(i++) == ')') break;
  }
  r.append(s.constData() + i, s.size() - i);
  *out = r;
  return true;
}
