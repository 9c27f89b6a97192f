#include "sandbox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include "testenv.h"

SandboxServer::SandboxServer(const QStringList& arguments, const QString& dataFile)
    : dataFile_(dataFile.isEmpty() ? dir_.filePath("sandbox.db") : dataFile), logFile_(dir_.filePath("sandbox.log")) {
  // The log goes to a file so a chatty server never blocks on a full pipe.
  process_.setStandardErrorFile(logFile_);
  process_.start(builtProgram("zide-sandbox"), QStringList{"--porta", "0", "--dados", dataFile_} + arguments);
  if (!process_.waitForStarted(10000)) {
    startError_ = "zide-sandbox não iniciou: " + process_.errorString();
    return;
  }
  QElapsedTimer clock;
  clock.start();
  QByteArray out;
  while (!out.contains('\n') && clock.elapsed() < 10000 && process_.state() == QProcess::Running) {
    process_.waitForReadyRead(200);
    out += process_.readAllStandardOutput();
  }
  const QByteArray line = out.left(out.indexOf('\n')).trimmed();
  if (!line.startsWith("porta ")) {
    startError_ = "zide-sandbox não informou a porta: " + QString::fromLocal8Bit(out);
    stop();
    return;
  }
  port_ = quint16(line.mid(6).toUInt());
}

SandboxServer::~SandboxServer() { stop(); }

bool SandboxServer::isRunning() const { return port_ != 0 && process_.state() == QProcess::Running; }

void SandboxServer::stop() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

QString SandboxServer::log() const {
  QFile f(logFile_);
  const QString text = f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
  return startError_.isEmpty() ? text : startError_ + '\n' + text;
}

QList<QVariantMap> SandboxServer::rows(const QString& sql) const {
  QList<QVariantMap> out;
  const QString name = "sandbox-" + QUuid::createUuid().toString();
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
    db.setDatabaseName(dataFile_);
    db.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000");
    if (db.open()) {
      QSqlQuery q(db);
      if (!q.exec(sql)) qWarning("sandbox rows: %s", qPrintable(q.lastError().text()));
      while (q.next()) {
        QVariantMap row;
        const QSqlRecord r = q.record();
        for (int i = 0; i < r.count(); ++i) row.insert(r.fieldName(i), r.value(i));
        out.append(row);
      }
    }
  }
  QSqlDatabase::removeDatabase(name);
  return out;
}

QList<QPair<QString, QString>> SandboxServer::contadorCall(int n) const {
  QList<QPair<QString, QString>> out;
  const auto calls = rows("SELECT id FROM contador ORDER BY id");
  if (n < 1 || n > calls.size()) return out;
  for (const QVariantMap& p : rows("SELECT nome, valor FROM contador_parametro WHERE contador = " +
                                   calls[n - 1].value("id").toString() + " ORDER BY posicao"))
    out.append({p.value("nome").toString(), p.value("valor").toString()});
  return out;
}
