#include "accesscheck.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "access/jetwriter.h"
#include "sandboxdata.h"

namespace {

struct Run {
  bool ok = false;
  QByteArray out;
  QString error;
};

Run mdbTool(const QString& tool, const QStringList& args) {
  Run r;
  const QString exe = QStandardPaths::findExecutable(tool);
  if (exe.isEmpty()) {
    r.error = tool + QStringLiteral(" não está instalado no servidor");
    return r;
  }
  QProcess p;
  p.start(exe, args);
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    p.kill();
    p.waitForFinished(1000);
    r.error = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (r.error.isEmpty()) r.error = tool + QStringLiteral(" falhou");
    return r;
  }
  r.ok = true;
  r.out = p.readAllStandardOutput();
  return r;
}

// A table as mdb-export gives it: the header's names and the rows, one per line.
struct Csv {
  QStringList header;
  QList<QStringList> rows;
};

bool exportTable(const QString& file, const QString& table, Csv* csv, QString* error) {
  const Run r =
      mdbTool(QStringLiteral("mdb-export"), {QStringLiteral("-e"), QStringLiteral("-D"), QStringLiteral("%Y-%m-%d"),
                                             QStringLiteral("-T"), QStringLiteral("%Y-%m-%d %H:%M:%S"), file, table});
  if (!r.ok) {
    *error = r.error;
    return false;
  }
  const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  csv->header = SplitCsvLine(lines.value(0));
  for (qsizetype i = 1; i < lines.size(); ++i) csv->rows << SplitCsvLine(lines[i]);
  return true;
}

}  // namespace

QStringList SplitCsvLine(const QString& line) {
  QStringList out;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted) {
      if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') field += c, ++i;
      else if (c == u'"') quoted = false;
      else field += c;
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u',') {
      out << field;
      field.clear();
    } else if (c != u'\r') {
      field += c;
    }
  }
  out << field;
  return out;
}

ZideUploadCheck CheckZideUpload(const QByteArray& content, const QString& companyIe, const QStringList& gias) {
  QTemporaryFile file;
  if (!file.open() || file.write(content) != content.size() || !file.flush()) {
    ZideUploadCheck c;
    c.refusal = QStringLiteral("o servidor não pôde guardar o arquivo para leitura");
    return c;
  }
  return CheckZideUploadFile(file.fileName(), companyIe, gias);
}

ZideUploadCheck CheckZideUploadFile(const QString& path, const QString& companyIe, const QStringList& gias) {
  ZideUploadCheck c;
  auto refuse = [&c](const QString& why) {
    c.refusal = why;
    c.rowCounts.clear();
    c.inicio.clear();
    return c;
  };
  // Jet 4 header: page 0 begins with 00 01 00 00 and "Standard Jet DB"; pages are 4096 bytes.
  QFile file(path);
  const QByteArray first = file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
  file.close();
  if (first.size() < 4096 || first.mid(4, 15) != "Standard Jet DB")
    return refuse(QStringLiteral("o arquivo enviado não é um banco de dados Access"));

  const Run ver = mdbTool(QStringLiteral("mdb-ver"), {path});
  if (!ver.ok) return refuse(QStringLiteral("o banco de dados Access não pôde ser lido: ") + ver.error);
  if (ver.out.trimmed() != "JET4")
    return refuse(
        QStringLiteral("o banco de dados não é do Access 2000-2003 (%1)").arg(QString::fromLatin1(ver.out.trimmed())));
  if (jet::readPassword(first) != QLatin1String(kZideDatabasePassword))
    return refuse(QStringLiteral("a senha do banco de dados não é a da declaração"));

  const Run list = mdbTool(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), path});
  if (!list.ok) return refuse(QStringLiteral("as tabelas do banco de dados não puderam ser lidas: ") + list.error);
  const QStringList tables = QString::fromUtf8(list.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (const char* needed : {"TAB03002", "TAB03003"})
    if (!tables.contains(QLatin1String(needed)))
      return refuse(QStringLiteral("a tabela %1 não está no banco de dados").arg(QLatin1String(needed)));

  QMap<QString, Csv> read;
  for (const QString& t : tables) {
    Csv csv;
    QString error;
    if (!exportTable(path, t.trimmed(), &csv, &error))
      return refuse(QStringLiteral("a tabela %1 não pôde ser lida: %2").arg(t, error));
    c.rowCounts.insert(t.trimmed(), csv.rows.size());
    if (t == QLatin1String("TAB03002") || t == QLatin1String("TAB03003")) read.insert(t, csv);
  }

  // The company blocks that carry the key's IE.
  const Csv& blocks = read[QStringLiteral("TAB03002")];
  const qsizetype blockId = blocks.header.indexOf(QStringLiteral("ID_03002"));
  const qsizetype blockIe = blocks.header.indexOf(QStringLiteral("IE"));
  if (blockId < 0 || blockIe < 0) return refuse(QStringLiteral("a tabela TAB03002 não tem as colunas ID_03002 e IE"));
  QStringList ownBlocks;
  for (const QStringList& row : blocks.rows)
    if (SandboxData::normalizeIe(row.value(blockIe)) == SandboxData::normalizeIe(companyIe))
      ownBlocks << row.value(blockId);

  const Csv& refs = read[QStringLiteral("TAB03003")];
  const qsizetype id = refs.header.indexOf(QStringLiteral("ID_03003"));
  const qsizetype block = refs.header.indexOf(QStringLiteral("ID_03002"));
  const qsizetype start = refs.header.indexOf(QStringLiteral("INICIO"));
  if (id < 0 || block < 0 || start < 0)
    return refuse(QStringLiteral("a tabela TAB03003 não tem as colunas ID_03003, ID_03002 e INICIO"));
  QMap<QString, QString> blockOf;
  for (const QStringList& row : refs.rows) {
    blockOf.insert(row.value(id), row.value(block));
    c.inicio.insert(row.value(id), row.value(start).left(10));
  }
  for (const QString& g : gias) {
    const QString key = g.trimmed();
    if (!blockOf.contains(key))
      return refuse(QStringLiteral("a referência %1 não existe na tabela TAB03003 do arquivo enviado").arg(key));
    if (!ownBlocks.contains(blockOf.value(key)))
      return refuse(QStringLiteral("a referência %1 não é da empresa da chave informada (IE %2)").arg(key, companyIe));
  }
  c.accepted = true;
  return c;
}
