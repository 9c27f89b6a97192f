// How long an upload waits for its company's part of the declaration, against the intake that
// made zide.db and zide.mdb from the same file and against copying zide.mdb whole (the floor: the
// bytes written). A declaration of N companies, 12 references each, 48 tables, R rows in all (made
// here with gdbfixture); the copy of the first company, in a process of its own so that its peak
// memory is its own. Each figure is the median of K runs.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

#include "../benchhelp.h"
#include "transmission/companycopy.h"
#include "transmission/intake.h"

namespace {
QTextStream out(stdout);

QString bin(const QString& name) { return QCoreApplication::applicationDirPath() + "/" + name; }

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

// The child: "<ms> <peak KiB> <rows kept> <rows left out>".
int copyOnce(const QString& workDb, const QString& target, const QString& ie) {
  QElapsedTimer t;
  t.start();
  const CompanyCopyResult r = WriteCompanyCopy(workDb, target, ie, Intake::tables());
  if (!r.ok()) {
    QTextStream(stderr) << r.error << Qt::endl;
    return 1;
  }
  out << t.nsecsElapsed() / 1e6 << ' ' << BenchPeakKb() << ' ' << r.kept() << ' ' << r.leftOut() << Qt::endl;
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(argc, argv,
                "bench_companycopy [--rows R] [--companies N] [--runs K]\n"
                "  Time and peak memory of one company's copy of the working declaration, against the\n"
                "  intake of the same file and a plain copy of zide.mdb (defaults: 200000 rows, 10\n"
                "  companies, 3 runs; median of the runs).\n"))
    return 0;
  QCoreApplication app(argc, argv);
  const QStringList a = app.arguments();
  if (a.value(1) == QLatin1String("--copia") && a.size() == 5) return copyOnce(a[2], a[3], a[4]);
  int rows = 200000, companies = 10, runs = 3;
  for (int i = 1; i + 1 < a.size(); ++i) {
    if (a[i] == "--rows") rows = a[++i].toInt();
    else if (a[i] == "--companies") companies = qMax(1, a[++i].toInt());
    else if (a[i] == "--runs") runs = qMax(1, a[++i].toInt());
  }
  QTemporaryDir dir;
  QDir().mkpath(dir.filePath("lock"));
  qputenv("FIREBIRD_LOCK", dir.filePath("lock").toLocal8Bit());
  qputenv("ZIDE_HOME", dir.path().toLocal8Bit());
  const QString gdb = dir.filePath("declaracao.gdb");
  QProcess fixture;
  fixture.start(bin("gdbfixture"), {gdb, "--quiet", "--companies", QString::number(companies), "--references", "12",
                                    "--total-rows", QString::number(rows)});
  if (!fixture.waitForFinished(-1) || fixture.exitCode() != 0) {
    out << "gdbfixture: " << fixture.readAllStandardError() << Qt::endl;
    return 1;
  }

  Intake::Settings s = Intake::defaultSettings();
  s.tool = bin("fbexport");
  s.templatePath = bin("zide_limpo.db");
  s.workDb = dir.filePath("zide.db");
  s.accessDb = dir.filePath("zide.mdb");
  s.tempDir = dir.filePath("temp");
  Intake intake;
  intake.setSettings(s);
  QEventLoop loop;
  Intake::Result outcome;
  QObject::connect(&intake, &Intake::finished, &loop, [&](const Intake::Result& o) {
    outcome = o;
    loop.quit();
  });
  QElapsedTimer t;
  t.start();
  intake.start(gdb);
  loop.exec();
  const double intakeMs = t.elapsed();
  if (!outcome.ok()) {
    out << "intake: " << outcome.error << Qt::endl;
    return 1;
  }
  out << "declaração: " << companies << " empresas, " << outcome.loadedStatements << " linhas, zide.mdb "
      << QFileInfo(s.accessDb).size() / 1024 << " KiB; preparação " << intakeMs << " ms" << Qt::endl;

  QList<double> copyMs, floorMs;
  qint64 peak = 0, kept = 0, left = 0;
  const QString target = dir.filePath("zide_envio.mdb");
  for (int r = 0; r < runs; ++r) {
    QProcess child;
    child.start(bin("bench_companycopy"), {"--copia", s.workDb, target, "0000001000000"});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
      out << "cópia: " << child.readAllStandardError() << Qt::endl;
      return 1;
    }
    const QStringList f = QString::fromLatin1(child.readAllStandardOutput()).simplified().split(' ');
    copyMs << f.value(0).toDouble();
    peak = qMax(peak, f.value(1).toLongLong());
    kept = f.value(2).toLongLong(), left = f.value(3).toLongLong();
    QFile::remove(dir.filePath("inteiro.mdb"));
    t.restart();
    QFile::copy(s.accessDb, dir.filePath("inteiro.mdb"));
    floorMs << t.nsecsElapsed() / 1e6;
  }
  out << "cópia da primeira empresa: " << median(copyMs) << " ms (" << kept << " linhas mantidas, " << left
      << " deixadas), " << QFileInfo(target).size() / 1024 << " KiB, pico " << peak / 1024 << " MiB" << Qt::endl;
  out << "  = " << median(copyMs) / intakeMs << " × a preparação; zide.mdb copiado inteiro: " << median(floorMs)
      << " ms" << Qt::endl;
  return 0;
}
