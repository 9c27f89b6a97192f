#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include "access/jetwriter.h"

// One company's part of a declaration, as it goes to the server. A declaration file holds every
// client of the accountant (one block per company in TAB03002); an upload goes under one
// company's key and must carry only that company's rows.
//
// The copy keeps, in TAB03002, the blocks whose IE is the company's and, in every table that
// refers to them (the key of TABnnnnn is ID_nnnnn; a column ID_nnnnn of another table points at
// it), only the rows whose references lead to kept rows, at any depth. A row whose reference
// points at another company's row, at a row that is not there, or nowhere at all, is left out.
// Tables that lead to no block (catalogs, settings, the header) stay whole.

// Rows of one table of the copy.
struct CompanyCopyTable {
  QString table;
  qint64 kept = 0;
  qint64 leftOut = 0;
};

// What went into a copy: plain values, to be shown or stored as they are.
struct CompanyCopyResult {
  QString ie;
  QList<CompanyCopyTable> tables;  // in the order written
  QString error;                   // empty when the copy was written whole
  bool ok() const { return error.isEmpty(); }
  qint64 kept() const;
  qint64 leftOut() const;
  // The row of one table; nullptr when the copy has no such table.
  const CompanyCopyTable* find(const QString& table) const;
};

// The declaration's tables as the working database (zide.db, which holds the same rows as
// zide.mdb) has them, in `tables`' order, written into a new Access database at `target` with the
// same column types and password as the intake's zide.mdb. The file takes its name only when
// complete; on failure nothing is left at `target` and the result says why.
CompanyCopyResult WriteCompanyCopy(const QString& workDb, const QString& target, const QString& ie,
                                   const QStringList& tables, const jet::WriterOptions& options = {});
