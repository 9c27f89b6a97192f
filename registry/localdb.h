#pragma once
#include <QList>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <functional>
#include <stdexcept>

// A failed database step, carried as the report needs it: the driver's native error number,
// where it came from and its text.
struct DbError : std::runtime_error {
  int number;
  QString source;
  QString description;
  DbError(int n, QString src, QString desc)
      : std::runtime_error(desc.toStdString()), number(n), source(std::move(src)), description(std::move(desc)) {}
};

// Doubles apostrophes. Statements never need it (their values are bound); the accountant's values
// travel to the server this way.
QString SqlQuote(const QString& value);

// One short-lived connection to an SQLite file, opened for one operation and closed with the object.
// Rows come back materialised, so no query outlives the connection.
class DbConnection {
 public:
  // Opens the file; throws DbError when it cannot. With createIfMissing, a missing file is created
  // and `schema` (statements separated by ';') is run on it first.
  explicit DbConnection(const QString& filePath, bool createIfMissing = false, const QString& schema = QString());
  ~DbConnection();
  DbConnection(const DbConnection&) = delete;
  DbConnection& operator=(const DbConnection&) = delete;

  // Runs a statement that returns rows; throws DbError on failure.
  QList<QSqlRecord> query(const QString& sql);
  // Same with values bound to '?' placeholders.
  QList<QSqlRecord> query(const QString& sql, const QVariantList& values);
  // Runs a statement with no rows; returns the number of rows it changed; throws DbError.
  int exec(const QString& sql);
  // Same with values bound to '?' placeholders.
  int exec(const QString& sql, const QVariantList& values);

  QSqlDatabase& db() { return db_; }

 private:
  QString name_;
  QSqlDatabase db_;
};

// The program's own registry: diziz.db in the application folder, with tblContador and
// tblContribuinte; created with both tables when the file is missing, so a fresh install works.
namespace LocalDatabase {
QString path();
QString schema();
class Connection : public DbConnection {
 public:
  Connection();
};
// Runs once, inside the first Connection made after it is set (the program sets the offer to
// bring over an earlier installation's registry); connections made by the hook do not run it again.
void setFirstUseHook(std::function<void()> hook);
}  // namespace LocalDatabase
