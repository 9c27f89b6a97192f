#pragma once
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// What the municipality's server makes of a ZIDE upload. The file must be a Jet 4 (Access
// 2000-2003) database with the program's password, read here by mdbtools' own programs (mdb-ver,
// mdb-tables, mdb-export) run on a temporary copy, a reader that shares nothing with the client's
// writer. Every reference named in `gias` must be a row of TAB03003 whose company block (TAB03002)
// carries the IE of the company whose key came with the upload.
struct ZideUploadCheck {
  bool accepted = false;
  QString refusal;                  // why not, in the words of the answer
  QMap<QString, qint64> rowCounts;  // every table of the database
  QMap<QString, QString> inicio;    // ID_03003 -> INICIO as yyyy-MM-dd
};

constexpr const char* kZideDatabasePassword = "wupo4836";

ZideUploadCheck CheckZideUpload(const QByteArray& content, const QString& companyIe, const QStringList& gias);
// The same for a file already on disk (a large upload is never brought into memory).
ZideUploadCheck CheckZideUploadFile(const QString& path, const QString& companyIe, const QStringList& gias);

// One line of mdb-export's CSV (invisible characters escaped, so one row is one line): the
// fields, unquoted. Public for the tests.
QStringList SplitCsvLine(const QString& line);
