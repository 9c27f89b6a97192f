#pragma once
#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Access databases in tests: a small declaration written like the intake writes one, and the two
// readers that share nothing with the writer (mdbtools' programs and the npm package mdb-reader).

struct TestReference {
  int id;     // ID_03003
  int block;  // ID_03002
  QDate inicio;
  QString substitui = QStringLiteral("N");
};
// TAB03002 with the company blocks (ID_03002, IE) and TAB03003 with the references; returns the
// file's bytes.
QByteArray writeAccessDeclaration(const QString& path, const QList<QPair<int, QString>>& blocks,
                                  const QList<TestReference>& refs, const QString& password = "wupo4836");

// A reader's output; an absent tool or a failed run gives empty text, *ok false and a warning (set-up
// installs the tools, so the test then fails on the empty result).
QByteArray runTool(const QString& program, const QStringList& args, bool* ok);
// mdb-export: the header row and then one row per record, "<NULL>" for null, dates as
// "yyyy-MM-dd HH:mm:ss", bytes in hex. Empty (and a warning) when it fails.
QList<QStringList> mdbExportRows(const QString& file, const QString& table);
// mdb-tables -1: the user tables.
QStringList mdbTables(const QString& file);
// tests/support/mdbreader/dump.mjs through node: {"password", "tables", "data": {T: {columns, rows}}}.
QJsonObject mdbReaderDump(const QString& file, const QStringList& tables = {});
