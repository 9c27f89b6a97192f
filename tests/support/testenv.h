#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A fresh, empty application folder for one test: ZIDE_HOME and the settings path point at it.
class TestAppFolder {
 public:
  TestAppFolder();
  ~TestAppFolder();
  QString path() const { return dir_.path(); }
  QString file(const QString& name) const { return dir_.filePath(name); }
  void write(const QString& name, const QByteArray& contents) const;
  // diziz.ini pointing at host:port.
  void writeSettings(const QString& host, const QString& port) const;

 private:
  QTemporaryDir dir_;
  QByteArray oldHome_;
};

// Path of a file in tests/data.
QString testData(const QString& relative);
// A one-page PDF as PGDAS hands it out: one revision, one %%EOF, the period in its text.
QByteArray PgdasPdf(const QByteArray& text);
// Path of a built program (zide-sandbox, fbexport, ...).
QString builtProgram(const QString& name);
// Splits CSV text (";" fields, quotes doubled, CR LF lines) the way a spreadsheet does.
QList<QStringList> readCsv(QString csv);
