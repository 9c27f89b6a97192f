// The Jet 4 writer against SQLite loading the same rows, on a mix of declaration-like tables.
//
//   bench_access [--rows N] [--runs K]
//
// Each phase runs in a child process of its own (this program with --phase), so its peak memory
// (VmHWM from /proc/self/status) is its own: "base" only starts up, "jet" writes the rows with
// JetWriter, "sqlite" loads them with QtSql in one transaction with bound values. The jet phase
// also runs with a tenth of the rows: the same peak shows that memory does not grow with rows.
// Times are the median of K runs (default 3).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

#include "access/jetwriter.h"

#include "../benchhelp.h"

namespace {

using jet::ColumnType;
using T = jet::ColumnType;

struct Shape {
  QString name;
  std::vector<jet::ColumnDef> cols;
  int share;  // per mille of the rows
};

// Reference periods, their items (most rows), item details and settings with long texts.
const std::vector<Shape>& shapes() {
  static const std::vector<Shape> s = {
      {"TAB03003",
       {{"ID_03003", T::Long},
        {"ID_03002", T::Long},
        {"INICIO", T::DateTime},
        {"FIM", T::DateTime},
        {"SUBSTITUI", T::Text, 1}},
       50},
      {"TAB03004001",
       {{"ID_03004001", T::Long},
        {"ID_03003", T::Long},
        {"CFOP", T::Text, 5},
        {"VALOR_CONTABIL", T::Numeric, 0, 15, 2},
        {"BASE_CALCULO", T::Numeric, 0, 15, 2},
        {"IMPOSTO", T::Numeric, 0, 15, 2},
        {"ISENTAS", T::Numeric, 0, 15, 2},
        {"OUTRAS", T::Numeric, 0, 15, 2},
        {"DESCRICAO", T::Text, 60},
        {"EMISSAO", T::DateTime}},
       700},
      {"TAB03004002",
       {{"ID_03004002", T::Long},
        {"ID_03004001", T::Long},
        {"ALIQUOTA", T::Double},
        {"QTD", T::Integer},
        {"CANCELADA", T::Boolean}},
       200},
      {"SETTINGS", {{"ID", T::Long}, {"CHAVE", T::Text, 40}, {"VALOR", T::Memo}, {"DADOS", T::Ole}}, 50},
  };
  return s;
}

// Row i of a table, the same for both writers.
std::vector<jet::Value> makeRow(const Shape& s, int i) {
  const QDate d = QDate(2023, 1, 1).addDays(i % 730);
  std::vector<jet::Value> v;
  for (size_t c = 0; c < s.cols.size(); ++c) {
    const jet::ColumnDef& col = s.cols[c];
    if (c > 1 && (i + int(c)) % 17 == 0) {
      v.emplace_back();
      continue;
    }
    switch (col.type) {
      case T::Long: v.emplace_back(qint64(c == 0 ? i + 1 : i / 9)); break;
      case T::Integer: v.emplace_back(qint64(i % 1000)); break;
      case T::Boolean: v.emplace_back(qint64(i % 2)); break;
      case T::Double: v.emplace_back(double(i % 25) / 100); break;
      case T::DateTime: v.emplace_back(QDateTime(d, QTime(0, 0).addSecs(i % 86400))); break;
      case T::Numeric: v.emplace_back(jet::Decimal{(qint64(i) * 7919 + qint64(c)) % 10000000000LL, 2}); break;
      case T::Text:
        v.emplace_back(col.length == 1 ? QString(i % 7 ? "N" : "S")
                                       : QStringLiteral("Item %1 de operação").arg(i).left(col.length));
        break;
      case T::Memo: v.emplace_back(QString(200 + i % 3000, QChar('a' + i % 26))); break;
      case T::Ole: v.emplace_back(QByteArray(i % 500, char(i))); break;
      default: v.emplace_back(); break;
    }
  }
  return v;
}

int rowsOf(const Shape& s, int total) { return int(qint64(total) * s.share / 1000); }

void phaseJet(const QString& path, int total) {
  jet::JetWriter w(path);
  for (const Shape& s : shapes()) {
    w.addTable(s.name, s.cols);
    const int n = rowsOf(s, total);
    for (int i = 0; i < n; ++i) w.appendRow(makeRow(s, i));
  }
  w.finish();
}

QString sqlType(const jet::ColumnDef& c) {
  switch (c.type) {
    case T::Long:
    case T::Integer:
    case T::Boolean: return "INTEGER";
    case T::Double: return "REAL";
    case T::Numeric: return QStringLiteral("NUMERIC(%1,%2)").arg(c.precision).arg(c.scale);
    case T::Ole: return "BLOB";
    default: return "TEXT";
  }
}

QVariant sqlValue(const jet::Value& v) {
  return std::visit(
      [](const auto& x) -> QVariant {
        using X = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<X, std::monostate>) {
          return QVariant();
        } else if constexpr (std::is_same_v<X, jet::Decimal>) {
          return x.toString();  // exact, as text
        } else {
          return QVariant::fromValue(x);
        }
      },
      v.variant());
}

bool phaseSqlite(const QString& path, int total) {
  QFile::remove(path);
  bool ok = true;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench");
    db.setDatabaseName(path);
    ok = db.open();
    QSqlQuery q(db);
    ok = ok && db.transaction();
    for (const Shape& s : shapes()) {
      QStringList defs, marks;
      for (const auto& c : s.cols) defs << c.name + ' ' + sqlType(c), marks << "?";
      ok = ok && q.exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(s.name, defs.join(',')));
      ok = ok && q.prepare(QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(s.name, marks.join(',')));
      const int n = rowsOf(s, total);
      for (int i = 0; ok && i < n; ++i) {
        const auto row = makeRow(s, i);
        for (size_t c = 0; c < row.size(); ++c) q.bindValue(int(c), sqlValue(row[c]));
        ok = q.exec();
      }
    }
    ok = ok && db.commit();
    if (!ok) std::fprintf(stderr, "sqlite: %s\n", qPrintable(db.lastError().text()));
  }
  QSqlDatabase::removeDatabase("bench");
  return ok;
}

struct Measure {
  double ms = 0;
  long kb = 0;
  qint64 bytes = 0;
};

Measure child(const QString& phase, int rows, const QString& file) {
  QProcess p;
  p.start(QCoreApplication::applicationFilePath(), {"--phase", phase, "--rows", QString::number(rows), "--out", file});
  Measure m;
  if (!p.waitForFinished(-1) || p.exitCode() != 0) {
    std::fprintf(stderr, "%s falhou: %s\n", qPrintable(phase), p.readAllStandardError().constData());
    return m;
  }
  const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
  if (f.size() == 2) m.ms = f[0].toDouble(), m.kb = f[1].toLong();
  m.bytes = QFileInfo(file).size();
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(
          argc, argv,
          "Uso: bench_access [--rows N] [--runs N]\n"
          "Mede o gravador Jet 4 (zide.mdb) contra o SQLite com as mesmas N linhas (padrão 200000), cada fase\n"
          "num processo próprio, com o tempo e o pico de memória de cada uma; mostra a melhor de --runs (padrão 3).\n"))
    return 0;
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  auto opt = [&](const QString& name, const QString& fallback) {
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
  };
  const int rows = opt("--rows", "200000").toInt();
  const QString phase = opt("--phase", "");
  if (!phase.isEmpty()) {
    const QString out = opt("--out", "");
    QElapsedTimer t;
    t.start();
    try {
      if (phase == "jet") phaseJet(out, rows);
      if (phase == "sqlite" && !phaseSqlite(out, rows)) return 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    std::printf("%lld %lld\n", t.elapsed(), BenchPeakKb());
    return 0;
  }

  const int runs = opt("--runs", "3").toInt();
  QTemporaryDir dir;
  QTextStream out(stdout);
  auto median = [&](const QString& ph, int n, const QString& file) {
    std::vector<Measure> m;
    for (int k = 0; k < runs; ++k) m.push_back(child(ph, n, file));
    std::sort(m.begin(), m.end(), [](const Measure& a, const Measure& b) { return a.ms < b.ms; });
    return m[m.size() / 2];
  };
  const Measure base = median("base", rows, dir.filePath("none"));
  const Measure jetSmall = median("jet", rows / 10, dir.filePath("small.mdb"));
  const Measure jet = median("jet", rows, dir.filePath("zide.mdb"));
  const Measure sqlite = median("sqlite", rows, dir.filePath("zide.db"));
  out << "linhas: " << rows << ", mediana de " << runs << " rodadas\n";
  out << QStringLiteral("%1 %2 ms  pico %3 KB  arquivo %4 KB\n").arg("base", -18).arg(0, 7).arg(base.kb, 7).arg(0, 7);
  out << QStringLiteral("%1 %2 ms  pico %3 KB  arquivo %4 KB\n")
             .arg(QStringLiteral("jet (%1)").arg(rows / 10), -18)
             .arg(jetSmall.ms, 7)
             .arg(jetSmall.kb, 7)
             .arg(jetSmall.bytes / 1024, 7);
  out << QStringLiteral("%1 %2 ms  pico %3 KB  arquivo %4 KB\n")
             .arg(QStringLiteral("jet (%1)").arg(rows), -18)
             .arg(jet.ms, 7)
             .arg(jet.kb, 7)
             .arg(jet.bytes / 1024, 7);
  out << QStringLiteral("%1 %2 ms  pico %3 KB  arquivo %4 KB\n")
             .arg(QStringLiteral("sqlite (%1)").arg(rows), -18)
             .arg(sqlite.ms, 7)
             .arg(sqlite.kb, 7)
             .arg(sqlite.bytes / 1024, 7);
  out << QStringLiteral("jet/sqlite: %1x tempo\n").arg(sqlite.ms > 0 ? jet.ms / sqlite.ms : 0, 0, 'f', 2);
  return 0;
}
