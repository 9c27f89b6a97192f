#include "transmission/companycopy.h"

#include <sqlite3.h>
#include <QFile>
#include <QHash>
#include <QSet>
#include <memory>
#include <vector>

#include "transmission/declarationstructure.h"

qint64 CompanyCopyResult::kept() const {
  qint64 n = 0;
  for (const CompanyCopyTable& t : tables) n += t.kept;
  return n;
}

qint64 CompanyCopyResult::leftOut() const {
  qint64 n = 0;
  for (const CompanyCopyTable& t : tables) n += t.leftOut;
  return n;
}

const CompanyCopyTable* CompanyCopyResult::find(const QString& table) const {
  for (const CompanyCopyTable& t : tables)
    if (t.table.compare(table, Qt::CaseInsensitive) == 0) return &t;
  return nullptr;
}

namespace {

const QString kBlocks = QStringLiteral("TAB03002");

struct Failure {
  QString why;
};

QString quoted(const QString& name) {
  QString q = name;
  q.replace(QLatin1Char('"'), QLatin1String("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

struct Closer {
  void operator()(sqlite3* h) const { sqlite3_close(h); }
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Closer>;

Statement prepare(sqlite3* h, const QString& sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(h, sql.toUtf8().constData(), -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    throw Failure{QString::fromUtf8(sqlite3_errmsg(h))};
  }
  return Statement(s);
}

void exec(sqlite3* h, const QString& sql, const QString& bound = {}) {
  Statement s = prepare(h, sql);
  if (!bound.isNull()) sqlite3_bind_text(s.get(), 1, bound.toUtf8().constData(), -1, SQLITE_TRANSIENT);
  while (true) {
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return;
    if (rc != SQLITE_ROW) throw Failure{QString::fromUtf8(sqlite3_errmsg(h))};
  }
}

qint64 count(sqlite3* h, const QString& sql) {
  Statement s = prepare(h, sql);
  if (sqlite3_step(s.get()) != SQLITE_ROW) throw Failure{QString::fromUtf8(sqlite3_errmsg(h))};
  return sqlite3_column_int64(s.get(), 0);
}

struct Table {
  QString name;
  std::vector<jet::ColumnDef> columns;
  QString key;             // ID_nnnnn of TABnnnnn, empty when the table has none
  QStringList references;  // its columns that name another table's key, with that table
  QList<int> parents;      // the tables they point at, in the same order
  bool bound = false;      // leads to the company blocks
  QString keep;            // the temporary table of the rows it keeps (rowid r, key k)
};

// "TAB03003" -> "ID_03003"; empty for tables outside the declaration's numbering.
QString keyName(const QString& table) {
  if (!table.startsWith(QLatin1String("TAB"), Qt::CaseInsensitive) || table.size() <= 3) return {};
  for (qsizetype i = 3; i < table.size(); ++i)
    if (!table.at(i).isDigit()) return {};
  return QStringLiteral("ID_") + table.mid(3);
}

QList<Table> readTables(sqlite3* h, const QStringList& names) {
  QList<Table> tables;
  for (const QString& name : names) {
    Statement s = prepare(h, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(name)));
    Table t;
    t.name = name;
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      const QString column = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1)));
      const QString type = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 2)));
      t.columns.push_back(accessColumnOfWorking(column, type));
    }
    if (t.columns.empty()) continue;  // not in the working database
    const QString key = keyName(name);
    for (const jet::ColumnDef& c : t.columns)
      if (!key.isEmpty() && c.name.compare(key, Qt::CaseInsensitive) == 0) t.key = c.name;
    tables.append(t);
  }
  // A column ID_nnnnn of one table refers to the row of TABnnnnn with that key.
  QHash<QString, int> byKey;
  for (int i = 0; i < tables.size(); ++i)
    if (!tables[i].key.isEmpty()) byKey.insert(tables[i].key.toUpper(), i);
  for (int i = 0; i < tables.size(); ++i)
    for (const jet::ColumnDef& c : tables[i].columns) {
      const auto parent = byKey.constFind(c.name.toUpper());
      if (parent == byKey.cend() || *parent == i) continue;
      tables[i].references << c.name;
      tables[i].parents << *parent;
    }
  return tables;
}

// Tables that lead to the company blocks, parents before their children (tables in a cycle last,
// in list order: what they point at in the cycle counts as not kept).
QList<int> boundInOrder(QList<Table>& tables) {
  for (Table& t : tables) t.bound = t.name.compare(kBlocks, Qt::CaseInsensitive) == 0;
  for (bool more = true; more;) {
    more = false;
    for (Table& t : tables)
      for (int p : std::as_const(t.parents))
        if (!t.bound && tables[p].bound) t.bound = more = true;
  }
  QList<int> order;
  QSet<int> placed;
  for (bool more = true; more;) {
    more = false;
    for (int i = 0; i < tables.size(); ++i) {
      if (!tables[i].bound || placed.contains(i)) continue;
      bool ready = true;
      for (int p : std::as_const(tables[i].parents)) ready = ready && (!tables[p].bound || placed.contains(p));
      if (!ready) continue;
      order << i;
      placed.insert(i);
      more = true;
    }
  }
  for (int i = 0; i < tables.size(); ++i)
    if (tables[i].bound && !placed.contains(i)) order << i;
  return order;
}

// Which rows of a bound table are the company's: at least one reference into the company's kept
// rows and none into rows it does not keep (another company's, or missing).
QString keptRows(const QList<Table>& tables, const Table& t) {
  if (t.name.compare(kBlocks, Qt::CaseInsensitive) == 0) return QStringLiteral("IE = ?1");
  QStringList some, none;
  for (qsizetype i = 0; i < t.references.size(); ++i) {
    const Table& parent = tables[t.parents[i]];
    if (!parent.bound) continue;
    const QString in = QStringLiteral("%1 IN (SELECT k FROM temp.%2)").arg(quoted(t.references[i]), parent.keep);
    some << in;
    none << QStringLiteral("(%1 IS NULL OR %2)").arg(quoted(t.references[i]), in);
  }
  return QStringLiteral("(%1) AND %2").arg(some.join(QLatin1String(" OR ")), none.join(QLatin1String(" AND ")));
}

jet::Value valueAt(sqlite3_stmt* s, int i) {
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER: return jet::Value(qint64(sqlite3_column_int64(s, i)));
    case SQLITE_FLOAT: return jet::Value(sqlite3_column_double(s, i));
    case SQLITE_TEXT:
      return jet::Value(
          QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, i)), sqlite3_column_bytes(s, i)));
    case SQLITE_BLOB:
      return jet::Value(QByteArray(static_cast<const char*>(sqlite3_column_blob(s, i)), sqlite3_column_bytes(s, i)));
    default: return jet::Value();
  }
}

void writeCopy(sqlite3* h, jet::JetWriter& out, const QString& ie, const QStringList& names,
               CompanyCopyResult& report) {
  QList<Table> tables = readTables(h, names);
  const QList<int> order = boundInOrder(tables);
  // The kept rows of each bound table, by rowid and key, in the connection's own temporary store:
  // the working database itself is only read.
  for (int i : order) {
    tables[i].keep = QStringLiteral("zide_keep_%1").arg(i);
    exec(h, QStringLiteral("CREATE TEMP TABLE %1 (r INTEGER PRIMARY KEY, k)").arg(tables[i].keep));
    exec(h, QStringLiteral("CREATE INDEX temp.%1_k ON %1 (k)").arg(tables[i].keep));
  }
  for (int i : order) {
    const Table& t = tables[i];
    const QString key = t.key.isEmpty() ? QStringLiteral("NULL") : quoted(t.key);
    exec(h,
         QStringLiteral("INSERT INTO temp.%1 (r, k) SELECT rowid, %2 FROM %3 WHERE %4")
             .arg(t.keep, key, quoted(t.name), keptRows(tables, t)),
         ie);
  }
  std::vector<jet::Value> row;
  for (const Table& t : std::as_const(tables)) {
    out.addTable(t.name, t.columns);
    QString sql = QStringLiteral("SELECT * FROM %1").arg(quoted(t.name));
    if (t.bound) sql += QStringLiteral(" WHERE rowid IN (SELECT r FROM temp.%1)").arg(t.keep);
    // The rows in the order the intake loaded them, the order of zide.mdb.
    sql += QStringLiteral(" ORDER BY rowid");
    Statement s = prepare(h, sql);
    const int n = sqlite3_column_count(s.get());
    if (n != int(t.columns.size())) throw Failure{QStringLiteral("tabela %1 mudou durante a cópia").arg(t.name)};
    CompanyCopyTable result{t.name, 0, 0};
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      row.clear();
      for (int c = 0; c < n; ++c) row.push_back(valueAt(s.get(), c));
      try {
        out.appendRow(std::span<const jet::Value>(row));
      } catch (const jet::JetError& e) {
        throw Failure{QStringLiteral("tabela %1: %2").arg(t.name, QString::fromUtf8(e.what()))};
      }
      ++result.kept;
    }
    if (rc != SQLITE_DONE) throw Failure{QString::fromUtf8(sqlite3_errmsg(h))};
    result.leftOut = count(h, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(t.name))) - result.kept;
    report.tables.append(result);
  }
}

}  // namespace

CompanyCopyResult WriteCompanyCopy(const QString& workDb, const QString& target, const QString& ie,
                                   const QStringList& tables, const jet::WriterOptions& options) {
  CompanyCopyResult report;
  report.ie = ie;
  const QString part = target + QStringLiteral(".parcial");
  QFile::remove(target);
  QFile::remove(part);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(QFile::encodeName(workDb).constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, Closer> h(raw);
  if (rc != SQLITE_OK) {
    report.error = QString::fromUtf8(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return report;
  }
  try {
    {
      jet::JetWriter out(part, options);
      writeCopy(h.get(), out, ie, tables, report);
      out.finish();
    }
    if (!QFile::rename(part, target))
      throw Failure{QStringLiteral("não foi possível dar o nome %1 à cópia").arg(target)};
    // Another company's declaration it is not, but still the user's tax data: his alone.
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  } catch (const Failure& f) { report.error = f.why; } catch (const jet::JetError& e) {
    report.error = QString::fromUtf8(e.what());
  }
  if (!report.ok()) {
    report.tables.clear();
    QFile::remove(part);
  }
  return report;
}
