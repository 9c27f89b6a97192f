// fbexport on one declaration table of N rows (default 200,000, made here with isql-fb), through
// the own reader (--leitor proprio) and through the engine (--leitor motor), in the same run.
// Each figure is the median of K runs (default 3) of a whole fbexport process; the two outputs
// are compared byte for byte. Needs the built fbexport beside this program and isql-fb, gfix on
// the PATH.
//
//   bench_ods [--rows N] [--runs K]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

#include "../benchhelp.h"

namespace {

QTextStream out(stdout);

bool run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
  QProcess p;
  p.start(program, args);
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    out << "falhou: " << program << ' ' << args.join(' ') << "\n"
        << p.readAllStandardError() << p.readAllStandardOutput() << Qt::endl;
    return false;
  }
  return true;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(argc, argv,
                "Uso: bench_ods [--rows N] [--runs N]\n"
                "Mede a exportação de uma declaração de N linhas (padrão 200000) pelo leitor próprio contra o motor,\n"
                "no mesmo arquivo; mostra a melhor de --runs (padrão 3).\n"))
    return 0;
  QCoreApplication app(argc, argv);
  int rows = 200000, runs = 3;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--rows") rows = args[++i].toInt();
    else if (args[i] == "--runs") runs = args[++i].toInt();
  }
  QTemporaryDir dir;
  qputenv("FIREBIRD_LOCK", dir.filePath("lock").toLocal8Bit());
  const QString gdb = dir.filePath("bench.gdb");
  const QString fbexport = QCoreApplication::applicationDirPath() + "/fbexport";

  QElapsedTimer t;
  t.start();
  if (!run("isql-fb", {"-q"},
           QString("SET SQL DIALECT 3;\nCREATE DATABASE '%1' USER 'SYSDBA' PASSWORD 'x' PAGE_SIZE 8192 "
                   "DEFAULT CHARACTER SET WIN1252;\n")
               .arg(gdb)
               .toUtf8()) ||
      !run("gfix", {"-write", "async", "-user", "SYSDBA", gdb}))
    return 1;
  // A declaration-like table: numbers, codes, money, dates, names, some notes in blobs.
  const QString fill = QString(R"(CONNECT '%1' USER 'SYSDBA' PASSWORD 'x';
CREATE TABLE TAB (ID INTEGER NOT NULL, CNPJ CHAR(14), NOME VARCHAR(60), VALOR NUMERIC(15,2),
  ALIQ NUMERIC(5,2), QTD BIGINT, DIA DATE, MOMENTO TIMESTAMP, ATIVO BOOLEAN, OBS BLOB SUB_TYPE TEXT);
SET TERM ^ ;
EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN
  WHILE (I <= %2) DO BEGIN
    INSERT INTO TAB VALUES (:I, LPAD(:I * 7919, 14, '0'), 'Contribuinte ' || :I || ' Ltda', :I * 13.37,
      MOD(:I, 500) / 100.0, :I * 1000003, DATEADD(MOD(:I, 3650) DAY TO DATE '2015-01-01'),
      DATEADD(:I SECOND TO TIMESTAMP '2020-01-01 00:00:00'), MOD(:I, 2) = 0,
      IIF(MOD(:I, 50) = 0, 'observação ' || :I, NULL));
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
)")
                           .arg(gdb)
                           .arg(rows);
  if (!run("isql-fb", {"-q"}, fill.toUtf8())) return 1;
  out << "declaração de " << rows << " linhas feita em " << t.elapsed() / 1000.0 << " s" << Qt::endl;

  QList<double> own, engine;
  for (int k = 0; k < runs; ++k) {
    for (const QString reader : {"proprio", "motor"}) {
      const QString file = dir.filePath(reader + ".txt");
      t.restart();
      if (!run(fbexport, {"-D", gdb, "-U", "SYSDBA", "-P", "x", "-Si", "-V", "TAB", "-F", file, "--leitor", reader}))
        return 1;
      (reader == QLatin1String("proprio") ? own : engine) << t.nsecsElapsed() / 1e9;
    }
    QFile a(dir.filePath("proprio.txt")), b(dir.filePath("motor.txt"));
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
      out << "as saídas dos dois leitores diferem" << Qt::endl;
      return 1;
    }
  }
  out << Qt::fixed << qSetRealNumberPrecision(3);
  out << "leitor próprio: " << median(own) << " s (mediana de " << runs << ")" << Qt::endl;
  out << "motor:          " << median(engine) << " s (mediana de " << runs << ")" << Qt::endl;
  return 0;
}
