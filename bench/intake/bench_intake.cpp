// Declaration intake against its floor and against the naive way, on one declaration of the
// 48 tables with 200,000 rows in all (made here with gdbfixture).
//
//   bench_intake [--rows N] [--runs K] [--sample S] [--full-naive] [--keep DIR]
//
// floor  = Firebird reading every table with isql-fb into /dev/null (one process)
//        + sqlite3 loading the same INSERT statements in one transaction (one process)
// intake = Intake: a copy of the template, fbexport per table (as many at once as cores), each
//          table loaded in one transaction on the loading thread, into zide.db and zide.mdb; run
//          as a child, with its peak memory and that of the largest export
// naive  = one fbexport after another, then every statement committed on its own. A commit per
//          statement costs a few disk flushes, so 200,000 of them take the better part of an
//          hour: the loading part is timed on a sample (--sample S statements, spread over the
//          tables; default 3000) and scaled to the whole count; --full-naive times all of it.
// access = the same exports (one file per table, made once) converted three ways, each in a
//          process of its own so its peak memory is its own: into zide.db alone (the SQLite load,
//          one transaction per table), into zide.mdb alone (each line read into values and
//          appended to the Jet writer), and into both as the intake does.
// Each figure is the median of K runs (default 3). Needs the built fbexport, gdbfixture and
// zide_limpo.db beside this program, isql-fb and sqlite3 on the PATH.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlQuery>
#include <QStringTokenizer>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "access/jetwriter.h"
#include "base/cp1252.h"
#include "registry/localdb.h"
#include "transmission/insertparse.h"
#include "transmission/intake.h"

#include "../benchhelp.h"

namespace {

QTextStream out(stdout);

QString bin(const QString& name) { return QCoreApplication::applicationDirPath() + '/' + name; }

bool run(const QString& program, const QStringList& args, const QString& stdinFile = {},
         const QString& stdoutFile = {}) {
  QProcess p;
  if (!stdinFile.isEmpty()) p.setStandardInputFile(stdinFile);
  p.setStandardOutputFile(stdoutFile.isEmpty() ? QProcess::nullDevice() : stdoutFile);
  p.start(program, args);
  if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    out << "falhou: " << program << ' ' << args.join(' ') << "\n" << p.readAllStandardError() << Qt::endl;
    return false;
  }
  return true;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

bool freshCopy(const QString& from, const QString& to) {
  QFile::remove(to);
  if (!QFile::copy(from, to)) return false;
  return QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::WriteOwner);
}

// One conversion of the exports in `exports`, run as a child: "sqlite", "access" or "ambos".
// Prints "<ms> <peak KiB> <rows>".
int phase(const QString& which, const QString& exports, const QString& work) {
  const QString templ = bin("zide_limpo.db");
  if (!freshCopy(templ, work + "/zide.db")) return 1;
  Intake::Result o;
  qint64 rows = 0;
  QElapsedTimer t;
  {
    DbConnection db(work + "/zide.db");
    t.start();
    if (which == QLatin1String("access")) {
      // The writer alone: each line read into values, the columns from the template.
      jet::JetWriter w(work + "/zide.mdb");
      ParsedInsert p;
      QString why;
      for (const QString& table : Intake::tables()) {
        w.addTable(table, Intake::accessColumns(db, table));
        QFile f(Intake::exportFile(exports, table));
        if (!f.open(QIODevice::ReadOnly)) return 1;
        const QString text = fromCp1252(f.readAll());
        for (QStringView line : QStringTokenizer(text, u"\r\n")) {
          if (line.trimmed().isEmpty()) continue;
          if (!parseInsert(line, &p, &why)) return 1;
          w.appendRow(std::span<const jet::Value>(p.values));
          ++rows;
        }
      }
      w.finish();
    } else {
      std::unique_ptr<jet::JetWriter> w;
      if (which == QLatin1String("ambos")) w = std::make_unique<jet::JetWriter>(work + "/zide.mdb");
      for (const QString& table : Intake::tables())
        Intake::loadTable(db, table, Intake::exportFile(exports, table), o, w.get());
      if (w) w->finish();
      rows = o.loadedStatements;
      if (o.failedStatements) return 1;
    }
  }
  out << t.nsecsElapsed() / 1e6 << ' ' << BenchPeakKb() << ' ' << rows << Qt::endl;
  return 0;
}

// The whole intake of `gdb`, with its work files in `dir`, run as a child. Prints "<ms> <ms of
// the exports> <peak KiB of this process> <peak KiB of the largest export> <rows>".
int wholeIntake(const QString& gdb, const QString& dir) {
  Intake::Settings s = Intake::defaultSettings();
  s.tool = bin("fbexport");
  s.templatePath = bin("zide_limpo.db");
  s.workDb = dir + "/zide.db";
  s.accessDb = dir + "/zide.mdb";
  s.tempDir = dir + "/temp";
  Intake in;
  in.setSettings(s);
  QEventLoop loop;
  Intake::Result result;
  QObject::connect(&in, &Intake::finished, &loop, [&](const Intake::Result& o) {
    result = o;
    loop.quit();
  });
  QElapsedTimer t;
  double exportPhase = 0;
  QObject::connect(&in, &Intake::loadingStarted, &loop, [&] { exportPhase = t.nsecsElapsed() / 1e6; });
  t.start();
  in.start(gdb);
  loop.exec();
  const double ms = t.nsecsElapsed() / 1e6;
  if (!result.ok() || result.failedStatements || !result.lostTables.isEmpty()) {
    QTextStream(stderr) << result.error << ' ' << result.failedStatements << Qt::endl;
    return 1;
  }
  struct rusage children {};
  getrusage(RUSAGE_CHILDREN, &children);
  out << ms << ' ' << exportPhase << ' ' << BenchPeakKb() << ' ' << children.ru_maxrss << ' ' << result.loadedStatements
      << Qt::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(
          argc, argv,
          "Uso: bench_intake [--rows N] [--runs N] [--sample N] [--full-naive] [--keep PASTA]\n"
          "Mede a preparação de uma declaração de N linhas (padrão 200000) contra o piso medido na mesma rodada\n"
          "(isql-fb lendo todas as tabelas mais o sqlite3 carregando as mesmas instruções) e o pico de memória.\n"))
    return 0;
  QCoreApplication app(argc, argv);
  if (app.arguments().value(1) == QLatin1String("--fase") && app.arguments().size() == 5)
    return phase(app.arguments()[2], app.arguments()[3], app.arguments()[4]);
  if (app.arguments().value(1) == QLatin1String("--intake") && app.arguments().size() == 4)
    return wholeIntake(app.arguments()[2], app.arguments()[3]);
  int rows = 200000, runs = 3, sample = 3000;
  bool fullNaive = false;
  QString keep;
  const QStringList a = app.arguments();
  for (int i = 1; i < a.size(); ++i) {
    if (a[i] == "--full-naive") fullNaive = true;
    else if (i + 1 >= a.size()) break;
    else if (a[i] == "--rows") rows = a[++i].toInt();
    else if (a[i] == "--runs") runs = qMax(1, a[++i].toInt());
    else if (a[i] == "--sample") sample = qMax(1, a[++i].toInt());
    else if (a[i] == "--keep") keep = a[++i];
  }
  QTemporaryDir tmp;
  const QString dir = keep.isEmpty() ? tmp.path() : keep;
  QDir().mkpath(dir);
  QDir().mkpath(dir + "/lock");
  qputenv("FIREBIRD_LOCK", (dir + "/lock").toLocal8Bit());
  const QStringList tables = Intake::tables();
  const QString gdb = dir + "/declaracao.gdb";
  const QString templ = bin("zide_limpo.db");

  QElapsedTimer t;
  t.start();
  if (!run(bin("gdbfixture"),
           {gdb, "--quiet", "--company", "0011111110011", "--references", "12", "--total-rows", QString::number(rows)}))
    return 1;
  out << "declaração: " << tables.size() << " tabelas, " << rows << " linhas, " << QFileInfo(gdb).size() / 1024
      << " KiB, feita em " << t.elapsed() << " ms" << Qt::endl;

  // The statements, once, for sqlite3's share of the floor.
  const QString exports = dir + "/exports";
  QDir().mkpath(exports);
  QFile all(dir + "/todas.sql");
  if (!all.open(QIODevice::WriteOnly)) return 1;
  all.write("BEGIN;\n");
  qint64 statements = 0;
  for (const QString& table : tables) {
    const QString file = Intake::exportFile(exports, table);
    if (!run(bin("fbexport"), {"-D", gdb, "-U", "SYSDBA", "-P", "x", "-Si", "-V", table, "-F", file})) return 1;
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    statements += bytes.count("\r\n");
    all.write(bytes);
  }
  all.write("COMMIT;\n");
  all.close();
  QFile script(dir + "/ler.sql");
  script.open(QIODevice::WriteOnly);
  for (const QString& table : tables) script.write(("select * from " + table + ";\n").toLatin1());
  script.close();

  QList<double> floorFb, floorSqlite, intake, intakeExports, intakeKb, toolKb, naive, naiveExports;
  QMap<QString, QList<double>> phaseMs, phaseKb;
  qint64 naiveSampled = 0;
  for (int r = 0; r < runs; ++r) {
    // Floor: Firebird reads everything once; SQLite loads everything in one transaction.
    t.restart();
    if (!run("isql-fb", {"-q", "-ch", "WIN1252", "-i", dir + "/ler.sql", gdb}, {}, "/dev/null")) return 1;
    floorFb << t.nsecsElapsed() / 1e6;
    if (!freshCopy(templ, dir + "/floor.db")) return 1;
    t.restart();
    if (!run("sqlite3", {dir + "/floor.db"}, dir + "/todas.sql")) return 1;
    floorSqlite << t.nsecsElapsed() / 1e6;

    // The intake as the window runs it, in a process of its own so that its peak memory is its own.
    {
      QProcess p;
      t.restart();
      p.start(bin("bench_intake"), {"--intake", gdb, dir});
      p.waitForFinished(-1);
      const double wall = t.nsecsElapsed() / 1e6;
      const QStringList f = QString::fromLatin1(p.readAllStandardOutput()).trimmed().split(' ');
      if (p.exitCode() != 0 || f.size() != 5 || f[4].toLongLong() != statements) {
        out << "intake falhou: " << p.readAllStandardOutput() << p.readAllStandardError() << Qt::endl;
        return 1;
      }
      intake << f[0].toDouble();
      intakeExports << f[1].toDouble();
      intakeKb << f[2].toDouble();
      toolKb << f[3].toDouble();
      Q_UNUSED(wall);
    }

    // The same exports into zide.db, into zide.mdb and into both, each in a process of its own.
    for (const QString& which : {QStringLiteral("sqlite"), QStringLiteral("access"), QStringLiteral("ambos")}) {
      QProcess p;
      QDir().mkpath(dir + "/fase");
      p.start(bin("bench_intake"), {"--fase", which, exports, dir + "/fase"});
      p.waitForFinished(-1);
      const QStringList f = QString::fromLatin1(p.readAllStandardOutput()).split(' ');
      if (p.exitCode() != 0 || f.size() != 3 || f[2].trimmed().toLongLong() != statements) {
        out << "fase " << which << " falhou: " << p.readAllStandardError() << Qt::endl;
        return 1;
      }
      phaseMs[which] << f[0].toDouble();
      phaseKb[which] << f[1].toDouble();
    }

    // Naive: one process after another, a commit per statement.
    if (!freshCopy(templ, dir + "/naive.db")) return 1;
    QDir().mkpath(dir + "/naive");
    t.restart();
    for (const QString& table : tables) {
      const QString file = Intake::exportFile(dir + "/naive", table);
      if (!run(bin("fbexport"), {"-D", gdb, "-U", "SYSDBA", "-P", "x", "-Si", "-V", table, "-F", file})) return 1;
    }
    const double exportsMs = t.nsecsElapsed() / 1e6;
    const int perTable = fullNaive ? INT_MAX : qMax(1, sample / int(tables.size()));
    qint64 done = 0;
    t.restart();
    {
      DbConnection db(dir + "/naive.db");
      QSqlQuery q(db.db());
      for (const QString& table : tables) {
        QFile f(Intake::exportFile(dir + "/naive", table));
        f.open(QIODevice::ReadOnly);
        int n = 0;
        for (const QString& line : fromCp1252(f.readAll()).split("\r\n")) {
          if (line.trimmed().isEmpty()) continue;
          if (n++ >= perTable) break;
          q.exec(line);
          ++done;
        }
      }
    }
    const double loadMs = t.nsecsElapsed() / 1e6 * (done ? double(statements) / done : 1.0);
    naive << exportsMs + loadMs;
    naiveExports << exportsMs;
    naiveSampled = done;
    out << "execução " << r + 1 << ": piso " << int(floorFb.last() + floorSqlite.last()) << " ms, intake "
        << int(intake.last()) << " ms, ingênuo " << int(exportsMs + loadMs) << " ms" << Qt::endl;
  }

  const double fb = median(floorFb), sq = median(floorSqlite), floor = fb + sq;
  const double in = median(intake), nv = median(naive);
  out << Qt::fixed;
  out.setRealNumberPrecision(0);
  out << "instruções: " << statements << ", execuções: " << runs << " (medianas)" << Qt::endl;
  out << "piso:    " << floor << " ms (isql-fb " << fb << " ms + sqlite3 " << sq << " ms)" << Qt::endl;
  out << "intake:  " << in << " ms (exportações em paralelo " << median(intakeExports) << " ms, carga "
      << in - median(intakeExports) << " ms); pico de memória " << median(intakeKb) / 1024 << " MiB, do maior fbexport "
      << median(toolKb) / 1024 << " MiB" << Qt::endl;
  out << "ingênuo: " << nv << " ms (exportações em série " << median(naiveExports) << " ms; carga com um commit por "
      << "instrução "
      << (naiveSampled < statements ? "estimada por " + QString::number(naiveSampled) + " instruções"
                                    : QString("medida inteira"))
      << ")" << Qt::endl;
  out << "conversão das mesmas exportações (processo próprio cada, pico de memória residente):" << Qt::endl;
  for (const char* which : {"sqlite", "access", "ambos"})
    out << "  " << QString::fromLatin1(which).leftJustified(7) << median(phaseMs[which]) << " ms, pico "
        << median(phaseKb[which]) / 1024 << " MiB" << Qt::endl;
  out.setRealNumberPrecision(2);
  out << "  access/sqlite = " << median(phaseMs["access"]) / median(phaseMs["sqlite"])
      << "   ambos/sqlite = " << median(phaseMs["ambos"]) / median(phaseMs["sqlite"]) << Qt::endl;
  out << "intake/piso = " << in / floor << "   ingênuo/piso = " << nv / floor << "   ingênuo/intake = " << nv / in
      << Qt::endl;
  return 0;
}
