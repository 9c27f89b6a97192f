// Build step: makes the empty working-database template from the declaration's table definitions.
//   mkzidedb zide_tables.sql zide_limpo.db
#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QTextStream err(stderr);
  if (args.size() != 3) {
    err << "uso: mkzidedb tabelas.sql saida.db\n";
    return 1;
  }
  QFile in(args[1]);
  if (!in.open(QIODevice::ReadOnly)) {
    err << "mkzidedb: não foi possível ler " << args[1] << "\n";
    return 1;
  }
  QString text;
  for (const QString& line : QString::fromUtf8(in.readAll()).split('\n'))
    if (!line.trimmed().startsWith(QLatin1String("--"))) text += line + '\n';

  // Written beside the target and renamed, so a failed build never leaves half a template.
  const QString out = args[2];
  const QString tmp = out + QStringLiteral(".tmp");
  QFile::remove(tmp);
  int tables = 0;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mk"));
    db.setDatabaseName(tmp);
    if (!db.open()) {
      err << "mkzidedb: " << db.lastError().text() << "\n";
      return 1;
    }
    QSqlQuery q(db);
    for (const QString& stmt : text.split(';')) {
      if (stmt.trimmed().isEmpty()) continue;
      if (!q.exec(stmt)) {
        err << "mkzidedb: " << q.lastError().text() << "\n" << stmt << "\n";
        return 1;
      }
      ++tables;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("mk"));
  QFile::remove(out);
  if (!QFile::rename(tmp, out)) {
    err << "mkzidedb: não foi possível gravar " << out << "\n";
    return 1;
  }
  return tables > 0 ? 0 : 1;
}
