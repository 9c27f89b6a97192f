#include <QtTest>

#include "registry/localdb.h"
#include "support/sandbox.h"
#include "support/testenv.h"

// zide-cli transmissoes takes the access key three ways: as an argument (scripts), from standard
// input ("-") or from the local registry (IE alone), so it need not show in the process list.
namespace {
const QString kIE = QStringLiteral("0623079040081");
const QString kKey = QStringLiteral("DEMO1234");

struct CliRun {
  int code = -1;
  QString out, err;
};

CliRun transmissoes(const QString& home, const QStringList& args, const QByteArray& input = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("ZIDE_HOME", home);
  p.setProcessEnvironment(env);
  p.start(builtProgram("zide-cli"), QStringList{"transmissoes"} + args);
  CliRun r;
  if (!p.waitForStarted(10000)) return r;
  p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(30000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

void storeTaxpayer(const QString& ie, const QString& key) {
  LocalDatabase::Connection db;
  db.exec("insert into tblContribuinte (IE, RazaoSocial, Chave) values (?, 'Empresa Demo ', ?)", {ie, key});
}
}  // namespace

class TstZideCliChave : public QObject {
  Q_OBJECT
 private slots:
  void keyFromArgumentInputOrRegistry_data();
  void keyFromArgumentInputOrRegistry();
  void noKeyAnywhere();
};

void TstZideCliChave::keyFromArgumentInputOrRegistry_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QByteArray>("input");
  QTest::addColumn<QString>("stored");  // key stored for kIE, or empty for no registry row
  QTest::addColumn<int>("code");
  // clang-format off
  QTest::newRow("argumento")              << QStringList{kIE, kKey}  << QByteArray()          << QString()  << 0;
  // An argument wins over the registry.
  QTest::newRow("argumento errado")       << QStringList{kIE, "X1"}  << QByteArray()          << kKey       << 3;
  QTest::newRow("entrada padrão")         << QStringList{kIE, "-"}   << QByteArray("DEMO1234\n")   << QString()  << 0;
  QTest::newRow("entrada com CR LF")      << QStringList{kIE, "-"}   << QByteArray("DEMO1234\r\nlixo\n") << QString() << 0;
  QTest::newRow("entrada errada")         << QStringList{kIE, "-"}   << QByteArray("ERRADA\n")     << kKey       << 3;
  QTest::newRow("cadastro")               << QStringList{kIE}        << QByteArray()          << kKey       << 0;
  QTest::newRow("cadastro, json")         << QStringList{kIE, "--formato", "json"} << QByteArray() << kKey << 0;
  QTest::newRow("cadastro errado")        << QStringList{kIE}        << QByteArray()          << "ERRADA"   << 3;
  // clang-format on
}

void TstZideCliChave::keyFromArgumentInputOrRegistry() {
  QFETCH(QStringList, args);
  QFETCH(QByteArray, input);
  QFETCH(QString, stored);
  QFETCH(int, code);
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIE + ":" + kKey + ":11.222.333/0001-81"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));
  if (!stored.isEmpty()) storeTaxpayer(kIE, stored);

  const CliRun r = transmissoes(app.path(), args, input);
  QVERIFY2(r.code == code, qPrintable(QString::number(r.code) + ": " + r.err));
  if (code == 3) QCOMPARE(r.err.trimmed(), QStringLiteral("Chave inválida"));
  if (code == 0) QVERIFY2(r.out.contains("Ano de trabalho:") || r.out.contains("\"anoTrabalho\""), qPrintable(r.out));
}

void TstZideCliChave::noKeyAnywhere() {
  TestAppFolder app;
  SandboxServer server({"--contribuinte", kIE + ":" + kKey + ":11.222.333/0001-81"});
  QVERIFY2(server.isRunning(), qPrintable(server.log()));
  app.writeSettings("127.0.0.1", QString::number(server.port()));

  // No registry: nothing is created, nothing is asked of the server.
  CliRun r = transmissoes(app.path(), {kIE});
  QCOMPARE(r.code, 2);
  QVERIFY2(r.err.contains("cadastro local"), qPrintable(r.err));
  QVERIFY(!QFile::exists(app.file("diziz.db")));
  // A registry without that IE, and an empty standard input.
  storeTaxpayer("0599528907882", "OUTRA123");
  r = transmissoes(app.path(), {kIE});
  QCOMPARE(r.code, 2);
  QVERIFY2(r.err.contains(kIE), qPrintable(r.err));
  r = transmissoes(app.path(), {kIE, "-"});
  QCOMPARE(r.code, 2);
  QVERIFY2(r.err.contains("entrada padrão"), qPrintable(r.err));
  QVERIFY(server.rows("select id from requisicao").isEmpty());
}

QTEST_MAIN(TstZideCliChave)
#include "tst_zidecli_chave.moc"
