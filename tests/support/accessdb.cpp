#include "support/accessdb.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

#include "access/jetwriter.h"

namespace {

// One CSV line of mdb-export -e: quoted fields with doubled quotes, \r \n \t \\ escaped.
QStringList splitLine(const QString& line) {
  QStringList out;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (c == u'\\' && i + 1 < line.size()) {
      const QChar n = line[++i];
      field += n == u'r' ? QChar(u'\r') : n == u'n' ? QChar(u'\n') : n == u't' ? QChar(u'\t') : n;
    } else if (quoted) {
      if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') field += c, ++i;
      else if (c == u'"') quoted = false;
      else field += c;
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u',') {
      out << field;
      field.clear();
    } else {
      field += c;
    }
  }
  out << field;
  return out;
}

}  // namespace

QByteArray runTool(const QString& program, const QStringList& args, bool* ok) {
  *ok = false;
  const QString exe = QStandardPaths::findExecutable(program);
  if (exe.isEmpty()) {
    qWarning("%s não encontrado (scripts/install-deps.sh instala)", qPrintable(program));
    return {};
  }
  QProcess p;
  p.start(exe, args);
  if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    qWarning("%s %s: %s", qPrintable(program), qPrintable(args.join(' ')), p.readAllStandardError().constData());
    return {};
  }
  *ok = true;
  return p.readAllStandardOutput();
}

QByteArray writeAccessDeclaration(const QString& path, const QList<QPair<int, QString>>& blocks,
                                  const QList<TestReference>& refs, const QString& password) {
  {
    jet::WriterOptions o;
    o.password = password;
    jet::JetWriter w(path, o);
    w.addTable(QStringLiteral("TAB03002"), {{"ID_03002", jet::ColumnType::Long}, {"IE", jet::ColumnType::Text, 20}});
    for (const auto& b : blocks) w.appendRow({jet::Value(qint64(b.first)), jet::Value(b.second)});
    w.addTable(QStringLiteral("TAB03003"), {{"ID_03003", jet::ColumnType::Long},
                                            {"ID_03002", jet::ColumnType::Long},
                                            {"INICIO", jet::ColumnType::DateTime},
                                            {"FIM", jet::ColumnType::DateTime},
                                            {"SUBSTITUI", jet::ColumnType::Text, 1}});
    for (const TestReference& r : refs) {
      const QDate fim = r.inicio.addMonths(1).addDays(-1);
      w.appendRow({jet::Value(qint64(r.id)), jet::Value(qint64(r.block)), jet::Value(QDateTime(r.inicio, QTime(0, 0))),
                   jet::Value(QDateTime(fim, QTime(0, 0))), jet::Value(r.substitui)});
    }
    w.finish();
  }
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QStringList> mdbExportRows(const QString& file, const QString& table) {
  bool ok;
  const QByteArray raw = runTool(
      QStringLiteral("mdb-export"),
      {"-e", "-0", "<NULL>", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex", file, table}, &ok);
  QList<QStringList> rows;
  if (!ok) return rows;
  for (const QString& line : QString::fromUtf8(raw).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    rows << splitLine(line);
  return rows;
}

QStringList mdbTables(const QString& file) {
  bool ok;
  const QByteArray raw = runTool(QStringLiteral("mdb-tables"), {"-1", file}, &ok);
  return ok ? QString::fromUtf8(raw).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

QJsonObject mdbReaderDump(const QString& file, const QStringList& tables) {
  const QString dir = QStringLiteral(ZIDE_MDBREADER_DIR);
  if (!QFile::exists(dir + "/node_modules/mdb-reader/package.json")) {
    qWarning("mdb-reader ausente em %s (scripts/install-deps.sh instala)", qPrintable(dir));
    return {};
  }
  bool ok;
  const QByteArray out = runTool(QStringLiteral("node"), QStringList{dir + "/dump.mjs", file} + tables, &ok);
  return ok ? QJsonDocument::fromJson(out).object() : QJsonObject();
}
