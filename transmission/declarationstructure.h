#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "access/jetwriter.h"

// One column of a declaration's table, as the export tool's structure mode (-Ss) describes it.
struct DeclarationColumn {
  QString name;
  QString type;     // the stored type: SMALLINT, INTEGER, BIGINT, DOUBLE PRECISION, CHAR, VARCHAR, BLOB...
  int subType = 0;  // blobs: 1 text, 0 binary; integers: 1 NUMERIC, 2 DECIMAL
  int length = 0;   // bytes
  int chars = 0;    // characters of a text column, 0 for the others
  int scale = 0;    // negative for exact decimals
  int precision = 0;
  QString charset;  // empty when the column has none
  bool nullable = true;

  bool isText() const;
  bool isFixedText() const { return type == QLatin1String("CHAR"); }
  // An exact decimal kept in an integer (NUMERIC/DECIMAL with a scale).
  bool isScaled() const;
};
using DeclarationTable = QList<DeclarationColumn>;

// Parses the export tool's -Ss output (TAB-separated lines, CR LF, Windows-1252). False, with the
// reason in `error`, for anything that is not a whole, sensible column list.
bool parseDeclarationStructure(const QByteArray& text, DeclarationTable* table, QString* error);

// The SQLite column a declaration's column becomes in the working database. Fixed-width texts
// compare without their trailing blanks, as the declaration's engine compares them.
QString sqliteColumnDeclaration(const DeclarationColumn& column);
// The Access column a declaration's column becomes in the declaration's Access database.
jet::ColumnDef accessColumn(const DeclarationColumn& column);
// The Access column of a working-database column, read back from its declared type (as
// sqliteColumnDeclaration or the template wrote it): the column the intake gave the Access database.
jet::ColumnDef accessColumnOfWorking(const QString& name, const QString& declaredType);
// CREATE TABLE for the declaration's table with its columns in their order.
QString sqliteCreateTable(const QString& table, const DeclarationTable& columns);

// The arguments that write `table`'s rows into `output` and its structure into `structure`; any
// copy of the declaration the tool makes lives in `copies` (the data folder's private temp).
QStringList exportArguments(const QString& gdb, const QString& table, const QString& output, const QString& structure,
                            const QString& copies);
// Whether the export tool's error says that the table is not in the file.
bool isMissingTableError(const QString& errorOutput);

struct sqlite3;
// Replaces `table` of the working database with one made from the declaration's columns. The
// template's key, when the declaration has all of its columns, stays as a unique index so that a
// repeated key is still refused. False with SQLite's reason.
bool replaceWorkingTable(sqlite3* db, const QString& table, const DeclarationTable& columns, QString* error);
// Drops the trailing blanks of the fixed-width texts just loaded, so that values read back compare
// as the declaration's engine compares them.
bool trimFixedText(sqlite3* db, const QString& table, const DeclarationTable& columns, QString* error);

// Columns whose values the export writes as bare decimals that must keep every digit and their
// scale (SQLite would read them as doubles): true at their positions.
QList<bool> exactColumns(const DeclarationTable& columns);
// Rewrites one INSERT statement of the export (whose VALUES follow the table's column order) with
// the values at the `exact` positions between apostrophes. False when the statement's value list
// is not one the export writes; `out` is then untouched.
bool quoteExactValues(const QByteArray& statement, const QList<bool>& exact, QByteArray* out);
