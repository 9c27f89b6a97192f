#pragma once
#include <QList>
#include <QString>

struct DbError;

// The multi-line text that reports a database or runtime error. Every line is preceded by CR LF.
namespace ErrorReport {

struct DriverError {  // one entry of the connection's error list
  long long number;
  QString description;
  QString source;
};
struct RuntimeError {
  long long number;
  QString source;
  QString description;
};

// Full form: a block per driver error, then the three short-form lines.
QString full(const QList<DriverError>& driverErrors, const RuntimeError& err);
// Short form: the three lines every report ends with.
QString shortForm(const RuntimeError& err);
// The short form of a failed database step.
QString forDbError(const DbError& e);

}  // namespace ErrorReport
