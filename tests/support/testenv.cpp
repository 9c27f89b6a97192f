#include "testenv.h"

#include <QCoreApplication>
#include <QFile>

#include "base/settings.h"

TestAppFolder::TestAppFolder() : oldHome_(qgetenv("ZIDE_HOME")) {
  qputenv("ZIDE_HOME", dir_.path().toLocal8Bit());
  InitSettingsPath();
}

TestAppFolder::~TestAppFolder() {
  if (oldHome_.isEmpty()) qunsetenv("ZIDE_HOME");
  else qputenv("ZIDE_HOME", oldHome_);
  InitSettingsPath();
}

void TestAppFolder::write(const QString& name, const QByteArray& contents) const {
  QFile f(file(name));
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(contents);
}

void TestAppFolder::writeSettings(const QString& host, const QString& port) const {
  write(QStringLiteral("diziz.ini"), "[servidor]\r\nhost=" + host.toLatin1() + "\r\nport=" + port.toLatin1() + "\r\n");
}

QString testData(const QString& relative) { return QString::fromLocal8Bit(qgetenv("ZIDE_TEST_DATA")) + '/' + relative; }

QByteArray PgdasPdf(const QByteArray& text) {
  return "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
         "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
         "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >> endobj\n"
         "4 0 obj << /Producer (PGDAS-D) >> endobj\n% " +
         text + "\ntrailer << /Root 1 0 R /Info 4 0 R >>\n%%EOF\n";
}

QString builtProgram(const QString& name) {
  const QByteArray bin = qgetenv("ZIDE_BIN");
  return (bin.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(bin)) + '/' + name;
}

QList<QStringList> readCsv(QString csv) {
  if (csv.startsWith(QChar(0xFEFF))) csv.remove(0, 1);
  QList<QStringList> records{{}};
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < csv.size(); ++i) {
    const QChar c = csv[i];
    if (quoted && c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') field += c, ++i;
    else if (c == '"') quoted = !quoted;
    else if (!quoted && c == ';') records.last() << field, field.clear();
    else if (!quoted && c == '\r' && csv.mid(i, 2) == "\r\n")
      records.last() << field, field.clear(), records << QStringList(), ++i;
    else field += c;
  }
  records.removeLast();
  return records;
}
