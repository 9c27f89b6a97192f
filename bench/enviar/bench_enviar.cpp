// A deadline day of an office: one declaration of N companies with M monthly references each (made
// here with gdbfixture), every company registered with its key, sent with `zide-cli enviar
// --todas-as-empresas` through the sandbox on 127.0.0.1. Against it, the network's own time: curl
// uploading one company's file (the same bytes the command sends) with its references, once per
// company. The program's own work is what the command takes beyond N such uploads.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include "../benchhelp.h"
#include "registry/accountantstore.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"
#include "transmission/companycopy.h"
#include "transmission/intake.h"
#include "transmission/referencelist.h"

namespace {
QTextStream out(stdout);

QString bin(const QString& name) { return QCoreApplication::applicationDirPath() + "/" + name; }
QString ieOf(int i) { return QString("%1").arg(623000000000LL + i, 13, 10, QChar('0')); }
QString keyOf(int i) { return QString("K%1").arg(i, 7, 10, QChar('0')); }

bool run(const QString& program, const QStringList& args, QByteArray* output = nullptr) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit) return false;
  if (output) *output = p.readAllStandardOutput();
  if (p.exitCode() != 0) QTextStream(stderr) << program << ": " << p.readAllStandardError() << Qt::endl;
  return p.exitCode() == 0;
}

// The data folder: settings, the accountant with a certificate of his, every company with its key.
bool prepareFolder(const QTemporaryDir& dir, quint16 port, int companies) {
  QFile ini(dir.filePath("diziz.ini"));
  if (!ini.open(QIODevice::WriteOnly)) return false;
  ini.write("[servidor]\r\nhost=127.0.0.1\r\nport=" + QByteArray::number(port) + "\r\n");
  ini.close();
  QDir().mkpath(dir.filePath("certificados"));
  qputenv("ZIDE_CERTIFICADOS", dir.filePath("certificados").toLocal8Bit());
  if (!run("openssl",
           {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir.filePath("k.pem"), "-out",
            dir.filePath("certificados/contador.pem"), "-days", "30", "-subj", "/CN=ESCRITORIO:52601815000120"}))
    return false;
  LocalDatabase::Connection db;
  ContadorDados office;
  office.cpfCnpj = "52.601.815/0001-20";
  office.crc = "1";
  office.razaoNome = "Escritório";
  AccountantStore::insert(db, office);
  for (int i = 0; i < companies; ++i)
    TaxpayerStore::insert(db, {ieOf(i), QString("Empresa %1").arg(i), "11222333000181", "4711-3/02", keyOf(i), "77"});
  return true;
}

// Seconds of curl uploading the first company's file with its references, per upload (median of 3).
double curlUpload(const QTemporaryDir& dir, const QString& gdb, quint16 port) {
  Intake::Settings s = Intake::defaultSettings();
  s.workDb = dir.filePath("curl.db");
  s.accessDb = dir.filePath("curl.mdb");
  s.tempDir = dir.filePath("curltemp");
  Intake intake;
  intake.setSettings(s);
  bool done = false;
  QObject::connect(&intake, &Intake::finished, [&] { done = true; });
  intake.start(gdb);
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const QString copy = dir.filePath("empresa.mdb");
  if (!WriteCompanyCopy(s.workDb, copy, ieOf(0), s.tables).ok()) return -1;
  QStringList gias;
  DbConnection db(s.workDb);
  for (const ListedReference& r : ListReferences(db, ieOf(0))) gias << r.id;
  const QString url =
      QString("http://127.0.0.1:%1/client_zide/xt_upload.php?contador=52.601.815/0001-20&chave=%2&gias=%3")
          .arg(port)
          .arg(keyOf(0), gias.join(','));
  QList<double> times;
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    if (!run("curl", {"-sS", "-0", "-o", "/dev/null", "-F", "objArquivo=@" + copy + ";filename=declaracao.gdb", url}))
      return -1;
    times << t.nsecsElapsed() / 1e9;
  }
  std::sort(times.begin(), times.end());
  return times[1];
}
}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(argc, argv,
                "bench_enviar [--companies N] [--references M] [--rows R]\n"
                "  zide-cli enviar --todas-as-empresas through the sandbox: one declaration of N companies\n"
                "  with M references each and R rows in all (defaults 50, 12, 50000), time per company\n"
                "  against curl uploading one company's file; the program's own work is the rest (aim:\n"
                "  under 20% of the total).\n"))
    return 0;
  QCoreApplication app(argc, argv);
  const QStringList a = app.arguments();
  int companies = 50, references = 12, rows = 50000;
  for (int i = 1; i + 1 < a.size(); ++i) {
    if (a[i] == "--companies") companies = qMax(1, a[++i].toInt());
    else if (a[i] == "--references") references = qMax(1, a[++i].toInt());
    else if (a[i] == "--rows") rows = qMax(0, a[++i].toInt());
  }
  QTemporaryDir dir;
  QDir().mkpath(dir.filePath("lock"));
  qputenv("FIREBIRD_LOCK", dir.filePath("lock").toLocal8Bit());
  qputenv("ZIDE_HOME", dir.path().toLocal8Bit());
  qputenv("ZIDE_PKCS11_MODULES", "");
  qputenv("ZIDE_NSS_DBS", dir.filePath("sem-nss").toLocal8Bit());
  const QString gdb = dir.filePath("ESCRITORIO.GDB");
  QStringList fixture{gdb,       "--quiet", "--references", QString::number(references),
                      "--first", "2025-01", "--total-rows", QString::number(rows)};
  QStringList sandbox{"--porta", "0", "--dados", dir.filePath("sandbox.db"), "--ano-trabalho", "2025/2026"};
  for (int i = 0; i < companies; ++i) {
    fixture << "--company" << ieOf(i) + ",11222333000181,Empresa " + QString::number(i);
    sandbox << "--contribuinte" << ieOf(i) + ":" + keyOf(i) + ":11222333000181";
  }
  if (!run(bin("gdbfixture"), fixture)) return 1;
  QProcess server;
  server.start(bin("zide-sandbox"), sandbox);
  if (!server.waitForReadyRead(10000)) return 1;
  const quint16 port = quint16(QString::fromLatin1(server.readLine()).remove(QRegularExpression("\\D")).toUInt());
  if (!prepareFolder(dir, port, companies)) return 1;

  // The conversion ends when the first company's line appears on the progress.
  QElapsedTimer t;
  t.start();
  QProcess cli;
  cli.start(bin("zide-cli"), {"enviar", gdb, "--todas-as-empresas", "--formato", "json"});
  QByteArray progress;
  double conversion = 0;
  while (cli.state() != QProcess::NotRunning) {
    cli.waitForReadyRead(100);
    progress += cli.readAllStandardError();
    if (conversion == 0 && progress.contains("[1/")) conversion = t.nsecsElapsed() / 1e9;
  }
  const QByteArray json = cli.readAllStandardOutput();
  const double total = t.nsecsElapsed() / 1e9;
  int confirmed = 0;
  for (const QJsonValue& c : QJsonDocument::fromJson(json).object()["empresas"].toArray())
    confirmed += c.toObject()["resultado"].toString() == "confirmada";
  const double curl = curlUpload(dir, gdb, port);
  server.kill();
  server.waitForFinished();
  const double perCompany = (total - conversion) / companies;
  out << companies << " empresas x " << references << " referências, " << rows << " linhas: " << confirmed
      << " confirmadas\n"
      << "zide-cli enviar: " << total << " s no total, conversão " << conversion << " s, " << perCompany
      << " s por empresa depois dela\n"
      << "curl (um envio do mesmo arquivo): " << curl << " s\n"
      << "por empresa: " << perCompany / curl
      << " x o envio do curl; trabalho do programa além dele: " << qMax(0.0, 100.0 * (perCompany - curl) / perCompany)
      << "% do total\n";
  return confirmed == companies ? 0 : 1;
}
