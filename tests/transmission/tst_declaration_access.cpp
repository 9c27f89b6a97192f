// The declaration's Access file as zide-cli writes it (the intake of the ZIDE window), read back by
// two readers that share nothing with the writer, mdbtools' mdb-export and the npm package
// mdb-reader, and compared value by value with what Firebird's own isql reads from the declaration.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "base/cp1252.h"
#include "registry/localdb.h"
#include "support/accessdb.h"
#include "support/intakesupport.h"
#include "support/testenv.h"
#include "transmission/intake.h"

namespace {

const QString kNull = QStringLiteral("<NULL>");

struct Column {
  QString name, type;  // the declared type, e.g. "NUMERIC(15,2)"
  bool is(const char* prefix) const { return type.startsWith(QLatin1String(prefix), Qt::CaseInsensitive); }
  bool text() const { return is("VARCHAR") || is("CHAR") || is("BLOB"); }
};

// \r \n \\ as mdb-export -e writes them (and the Firebird query below imitates).
QString unescape(const QString& s) {
  QString out;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 1 < s.size()) {
      const QChar n = s[++i];
      out += n == u'r' ? QChar(u'\r') : n == u'n' ? QChar(u'\n') : n == u't' ? QChar(u'\t') : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Every row of a declaration table as isql-fb reads it: one text per value, in canonical forms
// (dates "yyyy-MM-dd HH:mm:ss", decimals with their scale).
QList<QStringList> firebirdRows(const QString& gdb, const QString& table, const QList<Column>& cols, bool* ok) {
  QStringList parts;
  for (const Column& c : cols) {
    QString e;
    if (c.is("DATE")) e = "cast(" + c.name + " as varchar(10)) || ' 00:00:00'";
    else if (c.is("TIMESTAMP")) e = "substring(cast(" + c.name + " as varchar(30)) from 1 for 19)";
    else if (c.text())
      e = "replace(replace(replace(cast(" + c.name +
          " as varchar(8000)), '\\', '\\\\'), ascii_char(13), '\\r'), "
          "ascii_char(10), '\\n')";
    else e = "cast(" + c.name + " as varchar(40))";
    parts << "coalesce(" + e + ", '" + kNull + "')";
  }
  const QString script =
      "SET HEADING OFF;\nSELECT '~' || " + parts.join(" || ascii_char(31) || ") + " || '~' FROM " + table + ";\n";
  const RunResult r = runProgram("isql-fb", {"-q", "-ch", "WIN1252", gdb}, toCp1252(script), 120000);
  *ok = r.exitCode == 0 && r.err.trimmed().isEmpty();
  if (!*ok) qWarning("isql-fb: %s", r.err.constData());
  QList<QStringList> rows;
  for (const QString& line : fromCp1252(r.out).split('\n')) {
    if (!line.startsWith('~')) continue;
    const QString inner = line.mid(1, line.lastIndexOf('~') - 1);
    QStringList cells;
    for (const QString& cell : inner.split(QChar(31))) cells << unescape(cell);
    rows << cells;
  }
  return rows;
}

bool sameNumber(const QString& a, const QString& b) {
  bool oka, okb;
  const double x = a.toDouble(&oka), y = b.toDouble(&okb);
  return oka && okb && (x == y || std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), std::fabs(y)));
}

// mdb-export's text of a value against Firebird's.
bool sameAsExport(const Column& c, const QString& fb, const QString& mdb) {
  if (fb == kNull || mdb == kNull) return fb == mdb || (c.text() && fb.isEmpty());  // it prints '' as null
  if (c.is("DOUBLE") || c.is("FLOAT")) return sameNumber(fb, mdb);
  return fb == mdb;
}

// mdb-reader's JSON value against Firebird's text.
bool sameAsReader(const Column& c, const QString& fb, const QJsonValue& v) {
  if (fb == kNull) return v.isNull();
  if (c.is("DATE") || c.is("TIMESTAMP"))  // the day count read as UTC
    return v.toString().startsWith(QString(fb).replace(' ', 'T'));
  if (c.is("DOUBLE") || c.is("FLOAT")) return sameNumber(fb, QString::number(v.toDouble(), 'g', 17));
  if (c.is("NUMERIC") || c.is("DECIMAL")) return v.toString() == fb;
  if (c.text()) return v.toString() == fb;
  return QString::number(v.toDouble(), 'f', 0) == fb;
}

}  // namespace

class TstDeclarationAccess : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void everyValueAsFirebirdReadsIt();
  void commandLine_data();
  void commandLine();

 private:
  FirebirdLock lock_;
  QTemporaryDir dir_;
  QString gdb_, mdb_;
  QJsonObject summary_;
};

void TstDeclarationAccess::initTestCase() {
  // Every table, twelve rows each: accents, apostrophes, CR LF in long texts, NULL in the 11th row.
  gdb_ = dir_.filePath("completa.gdb");
  QVERIFY(makeDeclaration(gdb_, {"--company", "0011111110011,11222333000181", "--company", "0022222220022",
                                 "--references", "3", "--substitui", "N,S,X", "--rows-each", "12"}));
  mdb_ = dir_.filePath("completa.mdb");
  const RunResult r =
      runProgram(builtProgram("zide-cli"), {"declaracao", gdb_, "--saida", mdb_, "--formato", "json"}, {}, 300000);
  QVERIFY2(r.exitCode == 0, r.err);
  summary_ = QJsonDocument::fromJson(r.out).object();
  QCOMPARE(summary_["tabelas"].toArray().size(), Intake::tables().size());
}

void TstDeclarationAccess::everyValueAsFirebirdReadsIt() {
  DbConnection schema(builtProgram("zide_limpo.db"));
  QCOMPARE(mdbTables(mdb_), Intake::tables());
  const QJsonObject dump = mdbReaderDump(mdb_);
  QVERIFY2(!dump.isEmpty(), "mdb-reader não leu o arquivo");
  QCOMPARE(dump["password"].toString(), QString("wupo4836"));
  int compared = 0;
  for (const QString& table : Intake::tables()) {
    QList<Column> cols;
    for (const QSqlRecord& rec : schema.query("PRAGMA table_info(" + table + ")"))
      cols.append({rec.value("name").toString(), rec.value("type").toString()});
    bool ok;
    const QList<QStringList> fb = firebirdRows(gdb_, table, cols, &ok);
    QVERIFY2(ok, qPrintable(table));
    QVERIFY2(!fb.isEmpty(), qPrintable(table));
    const QList<QStringList> exported = mdbExportRows(mdb_, table);
    const QJsonObject read = dump["data"].toObject()[table].toObject();
    QStringList header;
    for (const QJsonValue& c : read["columns"].toArray()) header << c.toObject()["name"].toString();
    QCOMPARE(exported.value(0), header);
    QCOMPARE(header.size(), cols.size());
    QCOMPARE(exported.size() - 1, fb.size());
    const QJsonArray rows = read["rows"].toArray();
    QCOMPARE(rows.size(), fb.size());
    for (qsizetype r = 0; r < fb.size(); ++r) {
      QCOMPARE(fb[r].size(), cols.size());
      for (qsizetype c = 0; c < cols.size(); ++c) {
        const qsizetype at = header.indexOf(cols[c].name);
        QVERIFY2(at >= 0, qPrintable(table + "." + cols[c].name));
        const QString where =
            QString("%1.%2 linha %3: firebird [%4]").arg(table, cols[c].name).arg(r + 1).arg(fb[r][c]);
        QVERIFY2(sameAsExport(cols[c], fb[r][c], exported[r + 1].value(at)),
                 qPrintable(where + " mdb-export [" + exported[r + 1].value(at) + "]"));
        const QJsonValue v = rows[r].toArray()[at];
        QVERIFY2(
            sameAsReader(cols[c], fb[r][c], v),
            qPrintable(where + " mdb-reader [" + QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact) + "]"));
        ++compared;
      }
    }
  }
  QVERIFY(compared > 48 * 12 * 3);
}

void TstDeclarationAccess::commandLine_data() {
  // Rows are laid out as tables.
  // clang-format off
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("says");
  QTest::newRow("no file")       << QStringList{"declaracao"}                         << 2 << "informe o arquivo";
  QTest::newRow("bad option")    << QStringList{"declaracao", "x.gdb", "--nada"}      << 2 << "opção desconhecida";
  QTest::newRow("bad format")    << QStringList{"declaracao", "x.gdb", "--formato", "xml"} << 2 << "formato desconhecido";
  QTest::newRow("missing file")  << QStringList{"declaracao", "/nao/existe.gdb"}      << 3 << "não foi encontrado";
  QTest::newRow("not a GDB")     << QStringList{"declaracao", "LIXO"}                 << 3 << "não foi possível ler a declaração";
  QTest::newRow("company")       << QStringList{"declaracao", "GDB", "--ie", "0022222220022"} << 0
                                 << "4\t01/01/2023  a 31/01/2023 \tNormal\n5\t01/02/2023  a 28/02/2023 \tSubstitutiva\n"
                                    "6\t01/03/2023  a 31/03/2023 \tSubstitutiva\n";
  QTest::newRow("no company")    << QStringList{"declaracao", "GDB", "--ie", "0033"}  << 0
                                 << "Erro: Arquivo não contém informações da empresa selecionada";
  // clang-format on
}

void TstDeclarationAccess::commandLine() {
  QFETCH(QStringList, args);
  QFETCH(int, exitCode);
  QFETCH(QString, says);
  if (args.contains("LIXO")) {
    const QString junk = dir_.filePath("lixo.gdb");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(16384, 'x'));
    args.replace(args.indexOf("LIXO"), junk);
  }
  if (args.contains("GDB")) args.replace(args.indexOf("GDB"), gdb_);
  const RunResult r = runProgram(builtProgram("zide-cli"), args, {}, 300000);
  QCOMPARE(r.exitCode, exitCode);
  const QString text = QString::fromUtf8(r.out + r.err);
  QVERIFY2(text.contains(says), qPrintable(text));
  if (exitCode == 0) QVERIFY(text.contains("TAB03003                 6\n"));
}

QTEST_GUILESS_MAIN(TstDeclarationAccess)
#include "tst_declaration_access.moc"
