// The Jet 4 writer, checked by two readers that share no code with it: mdbtools (mdb-ver,
// mdb-tables, mdb-schema, mdb-export) and the npm package mdb-reader (tests/support/mdbreader).
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <ctime>

#include "access/jetwriter.h"
#include "base/cp1252.h"
#include "support/accessdb.h"
#include "support/jetstructure.h"
#include "support/testenv.h"

using namespace jet;
using T = ColumnType;

namespace {

const QDateTime kCreated(QDate(2024, 3, 15), QTime(9, 30, 0));

QByteArray run(const QString& program, const QStringList& args, bool* ok) { return runTool(program, args, ok); }

QJsonObject mdbReader(const QString& file, const QStringList& tables = {}) { return mdbReaderDump(file, tables); }

// mdb-export's CSV: quoted fields may hold commas, doubled quotes and line breaks.
QList<QStringList> mdbExport(const QString& file, const QString& table) {
  bool ok;
  const QByteArray raw = run(QStringLiteral("mdb-export"),
                             {"-H", "-0", "<NULL>", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex", file, table}, &ok);
  QList<QStringList> rows;
  if (!ok) return rows;
  const QString s = QString::fromUtf8(raw);
  QStringList row;
  QString field;
  bool quoted = false, any = false;
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (quoted) {
      if (c == '"' && i + 1 < s.size() && s[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ',') {
      row << field;
      field.clear();
    } else if (c == '\n') {
      row << field;
      rows << row;
      row.clear();
      field.clear();
    } else {
      field += c;
      any = true;
    }
  }
  if (!row.isEmpty() || !field.isEmpty()) rows << (row << field);
  return rows;
}

QString hex(const QByteArray& b) { return b.isEmpty() ? QStringLiteral("") : QString::fromLatin1(b.toHex()); }

// What each reader should show for a written value of a column. Exact decimals keep their
// scale; dates are compared to the second.
struct Expect {
  QJsonValue json;  // mdb-reader
  QString csv;      // mdb-export
};

Expect expected(const ColumnDef& c, const Value& v) {
  const auto& var = v.variant();
  if (v.isNull()) {
    // A Yes/No column has no null: its only bit is the value.
    if (c.type == T::Boolean) return {false, "0"};
    return {QJsonValue::Null, "<NULL>"};
  }
  switch (c.type) {
    case T::Boolean: {
      const bool b = std::get<qint64>(var) != 0;
      return {b, b ? "1" : "0"};
    }
    case T::Byte:
    case T::Integer:
    case T::Long: {
      const qint64 i = std::get<qint64>(var);
      return {double(i), QString::number(i)};
    }
    case T::Currency:
    case T::Numeric: {
      const Decimal d = std::get<Decimal>(var);
      const int scale = c.type == T::Currency ? 4 : c.scale;
      Decimal r{d.unscaled, d.scale};
      while (r.scale < scale) r.unscaled *= 10, ++r.scale;
      return {r.toString(), r.toString()};
    }
    case T::Single: {
      const double f = double(float(std::get<double>(var)));
      return {f, QString::number(f, 'g', 7)};
    }
    case T::Double: {
      const double d = std::get<double>(var);
      return {d, QString::number(d, 'g', 15)};
    }
    case T::DateTime: {
      const QDateTime dt = std::get<QDateTime>(var);
      return {dt.toString("yyyy-MM-ddTHH:mm:ss.zzzZ"), dt.toString("yyyy-MM-dd HH:mm:ss")};
    }
    // mdb-export prints an empty text like a null one; mdb-reader tells them apart.
    case T::Text:
    case T::Memo: {
      const QString s = std::get<QString>(var);
      return {s.isEmpty() ? QJsonValue(QStringLiteral("")) : QJsonValue(s), s.isEmpty() ? "<NULL>" : s};
    }
    case T::Ole:
    case T::Binary: {
      const QByteArray b = std::get<QByteArray>(var);
      return {hex(b), hex(b).toUpper()};
    }
  }
  return {};
}

// Every value of a table compared with both readers.
void compareTable(const QString& file, const QString& table, const std::vector<ColumnDef>& cols,
                  const std::vector<std::vector<Value>>& rows) {
  const QJsonObject dump = mdbReader(file, {table});
  QVERIFY2(!dump.isEmpty(), "mdb-reader não leu o arquivo");
  const QJsonObject t = dump["data"].toObject()[table].toObject();
  QCOMPARE(t["rowCount"].toInt(), int(rows.size()));
  const QJsonArray jrows = t["rows"].toArray();
  QCOMPARE(jrows.size(), qsizetype(rows.size()));
  const QList<QStringList> csv = mdbExport(file, table);
  QCOMPARE(csv.size(), qsizetype(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    const QJsonArray jr = jrows[qsizetype(r)].toArray();
    QCOMPARE(csv[qsizetype(r)].size(), qsizetype(cols.size()));
    for (size_t c = 0; c < cols.size(); ++c) {
      const Expect e = expected(cols[c], rows[r][c]);
      const QJsonValue got = jr[qsizetype(c)];
      const QString& text = csv[qsizetype(r)][qsizetype(c)];
      bool readerOk, exportOk;
      if ((cols[c].type == T::Single || cols[c].type == T::Double) && !e.json.isNull()) {
        // mdb-reader widens a Single; mdb-export prints 7 or 15 significant digits.
        const bool single = cols[c].type == T::Single;
        readerOk = single ? float(got.toDouble()) == float(e.json.toDouble()) : got.toDouble() == e.json.toDouble();
        exportOk = single ? float(text.toDouble()) == float(e.json.toDouble()) : text.toDouble() == e.json.toDouble();
      } else {
        readerOk = got == e.json;
        exportOk = text == e.csv;
      }
      if (!readerOk || !exportOk) {
        const QString where = QStringLiteral("%1 linha %2 coluna %3: ").arg(table).arg(r).arg(cols[c].name);
        QFAIL(qPrintable(where + "mdb-reader " +
                         QJsonDocument(QJsonArray{got}).toJson(QJsonDocument::Compact).left(80) + " mdb-export " +
                         text.left(80) + QStringLiteral(" (%1/%2 caracteres)").arg(text.size()).arg(e.csv.size())));
      }
    }
  }
}

QByteArray fileBytes(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the reference corpus has no example of: chained long values, as measured on Access-made
// files (a piece of 4076 bytes from 0x14, 4 bytes left free).
const JetStructure kMeasuredElsewhere = {{"valores longos peças encadeadas", "início 14 tamanho 4076 livre 4"}};

// Our file, field by field, against the files Microsoft's engine and Access wrote.
void matchesReferences(const QString& file) {
  const QStringList diff = jetDifferences(jetStructure(fileBytes(file)), kMeasuredElsewhere);
  QVERIFY2(diff.isEmpty(), qPrintable(file + ":\n" + diff.join('\n')));
}

// The declaration's 48 tables with the export tool's column types, from the schema the working
// database is made from.
QList<QPair<QString, std::vector<ColumnDef>>> declarationTables() {
  QFile f(QStringLiteral(ZIDE_SCHEMA_SQL));
  if (!f.open(QIODevice::ReadOnly)) return {};
  QList<QPair<QString, std::vector<ColumnDef>>> tables;
  for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
    const QString l = line.trimmed();
    if (l.startsWith(QLatin1String("CREATE TABLE "))) {
      tables.append({l.mid(13).section(' ', 0, 0), {}});
    } else if (!tables.isEmpty() && !l.isEmpty() && !l.startsWith(QLatin1String("--")) && !l.startsWith(')')) {
      QString type = l.section(' ', 1);
      type.remove(QLatin1String(" NOT NULL")).remove(QLatin1String(" PRIMARY KEY"));
      if (type.endsWith(',')) type.chop(1);
      bool ok;
      tables.back().second.push_back(columnForFirebirdType(l.section(' ', 0, 0), type, &ok));
      if (!ok) return {};
    }
  }
  return tables;
}

QString cp1252Range() {
  QByteArray bytes;
  for (int b = 1; b <= 255; ++b) bytes += char(b);
  return fromCp1252(bytes);
}

}  // namespace

class TstJetWriter : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;

 private slots:
  void everyTypeRoundTrips();
  void longValuesAcrossPages();
  void passwordInHeader();
  void catalogAndItsIndexes();
  void manyRowsOnManyPages();
  void wideTableDefinitionOverSeveralPages();
  void valuesAsTheExportToolWritesThem();
  void datesIgnoreTheLocalSummerTime();
  void declarationMatchesTheReferences();
  void comparisonSeesADeparture_data();
  void comparisonSeesADeparture();
  void singleAtTheEdgeOfItsRange();
  void refusesWhatItCannotKeepExactly_data();
  void refusesWhatItCannotKeepExactly();
  void firebirdTypes_data();
  void firebirdTypes();
};

void TstJetWriter::everyTypeRoundTrips() {
  const std::vector<ColumnDef> cols = {{"Logico", T::Boolean},
                                       {"Byte", T::Byte},
                                       {"Inteiro", T::Integer},
                                       {"Longo", T::Long},
                                       {"Moeda", T::Currency},
                                       {"Simples", T::Single},
                                       {"Duplo", T::Double},
                                       {"Data", T::DateTime},
                                       {"Texto", T::Text, 255},
                                       {"Curto", T::Text, 20},
                                       {"Memorando", T::Memo},
                                       {"Objeto", T::Ole},
                                       {"Valor", T::Numeric, 0, 15, 2},
                                       {"Grande", T::Numeric, 0, 28, 6}};
  const QString cp = cp1252Range();
  QCOMPARE(cp.size(), 255);
  auto dec = [](const char* s) {
    bool ok;
    const Decimal d = Decimal::parse(s, &ok);
    return Value(d);
  };
  // Dates up to 2500: mdbtools prints nothing sensible past about the year 4637.
  std::vector<std::vector<Value>> rows = {
      {qint64(1), qint64(0), qint64(0), qint64(0), dec("0"), 0.0, 0.0, QDateTime(QDate(1900, 1, 1), QTime(0, 0)),
       QString(), QString(), QString(), QByteArray(), dec("0"), dec("0")},
      {qint64(1), qint64(255), qint64(-32768), qint64(INT32_MIN), dec("-922337203685477.5808"), 3.5, -1234.5678,
       QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)), cp, QString("O'Brien \"x\""), cp,
       QByteArray("\x00\x01\xff", 3), dec("-9999999999999.99"), dec("-9999999999999999999999.999999")},
      {qint64(0), qint64(7), qint64(32767), qint64(INT32_MAX), dec("922337203685477.5807"), -0.25, 1e300,
       QDateTime(QDate(2500, 12, 31), QTime(23, 59, 59)), QString(255, QChar('z')), QString("'\"'\"''"),
       QString("it's \"quoted\"\r\nnext line"), QByteArray(300, '\x7f'), dec("0.05"), dec("1.5")},
      {Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(),
       Value(), Value()},
  };
  // Text of a single character compresses to nothing shorter: the uncompressed path.
  rows.push_back({qint64(0), qint64(1), qint64(-1), qint64(-1), dec("1"), 1.0, 2.0,
                  QDateTime(QDate(1999, 12, 31), QTime(12, 0)), QString("a"), QString("\u20ac"), QString("m"),
                  QByteArray("o"), dec("12.3"), dec("7")});
  const QString file = dir_.filePath("tipos.mdb");
  {
    WriterOptions o;
    o.created = kCreated;
    JetWriter w(file, o);
    w.addTable("Tipos", cols);
    for (const auto& r : rows) w.appendRow(r);
    w.addTable("Vazia", {{"Id", T::Long}, {"Nome", T::Text, 20}});
    w.finish();
  }
  compareTable(file, "Tipos", cols, rows);
  compareTable(file, "Vazia", {{"Id", T::Long}, {"Nome", T::Text, 20}}, {});
  matchesReferences(file);

  // The declared shapes as mdbtools reports them.
  bool ok;
  const QString schema = QString::fromUtf8(run("mdb-schema", {file}, &ok));
  QVERIFY(ok);
  for (const char* part :
       {"[Logico]\t\t\tBoolean", "[Byte]\t\t\tByte", "[Inteiro]\t\t\tInteger", "[Longo]\t\t\tLong Integer",
        "[Moeda]\t\t\tCurrency", "[Simples]\t\t\tSingle", "[Duplo]\t\t\tDouble", "[Data]\t\t\tDateTime",
        "[Texto]\t\t\tText (255)", "[Curto]\t\t\tText (20)", "[Memorando]\t\t\tMemo/Hyperlink", "[Objeto]\t\t\tOLE",
        "[Valor]\t\t\tNumeric (15, 2)", "[Grande]\t\t\tNumeric (28, 6)"})
    QVERIFY2(schema.contains(QLatin1String(part)), part);
  const QJsonArray jcols = mdbReader(file, {"Tipos"})["data"].toObject()["Tipos"].toObject()["columns"].toArray();
  QCOMPARE(jcols.size(), qsizetype(cols.size()));
  QCOMPARE(jcols[8].toObject()["size"].toInt(), 510);
  QCOMPARE(jcols[12].toObject()["precision"].toInt(), 15);
  QCOMPARE(jcols[12].toObject()["scale"].toInt(), 2);
}

void TstJetWriter::longValuesAcrossPages() {
  // Inline, one LVAL row, and chains of LVAL pages (over 64 KiB), in several rows so pieces of
  // different values share and follow pages.
  const std::vector<ColumnDef> cols = {{"Id", T::Long}, {"Nota", T::Memo}, {"Anexo", T::Ole}, {"Outra", T::Memo}};
  std::vector<std::vector<Value>> rows;
  const QString cp = cp1252Range();
  auto bytes = [](int n, int seed) {
    QByteArray b(n, '\0');
    uint32_t x = uint32_t(seed) * 2654435761u + 1;
    for (int i = 0; i < n; ++i) b[i] = char((x = x * 1103515245u + 12345u) >> 24);
    return b;
  };
  const int memoChars[] = {10, 1000, 2000, 40000, 70000, 0};
  const int oleBytes[] = {3, 4080, 4081, 200000, 65537, 1};
  for (int i = 0; i < 6; ++i) {
    QString memo;
    while (memo.size() < memoChars[i]) memo += cp;
    memo.truncate(memoChars[i]);
    rows.push_back({qint64(i), memo, bytes(oleBytes[i], i), QString(memoChars[i] / 10, QChar('A' + i))});
  }
  const QString file = dir_.filePath("longos.mdb");
  {
    WriterOptions o;
    o.created = kCreated;
    JetWriter w(file, o);
    w.addTable("Longos", cols);
    for (const auto& r : rows) w.appendRow(r);
    w.finish();
  }
  compareTable(file, "Longos", cols, rows);
  matchesReferences(file);
}

void TstJetWriter::passwordInHeader() {
  const QString with = dir_.filePath("senha.mdb"), without = dir_.filePath("sem.mdb");
  for (const QString& f : {with, without}) {
    WriterOptions o;
    o.created = kCreated;
    if (f == without) o.password.clear();
    JetWriter w(f, o);
    w.addTable("T", {{"A", T::Long}});
    w.appendRow({Value(qint64(1))});
    w.finish();
  }
  QFile f(with);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray header = f.read(4096);
  QCOMPARE(header.size(), 4096);
  QCOMPARE(header.mid(4, 16), QByteArray("Standard Jet DB\0", 16));
  QCOMPARE(int(header[0x14]), 1);
  QCOMPARE(readPassword(header), QString("wupo4836"));
  // The masked region does not show the password in the clear, in one byte or in two.
  QVERIFY(!header.contains("wupo4836"));
  QVERIFY(!header.contains(QByteArray("w\0u\0p\0o\0", 8)));
  QFile g(without);
  QVERIFY(g.open(QIODevice::ReadOnly));
  QCOMPARE(readPassword(g.read(4096)), QString());

  QCOMPARE(mdbReader(with)["password"].toString(), QString("wupo4836"));
  QVERIFY(mdbReader(without)["password"].isNull());
  bool ok;
  QCOMPARE(run("mdb-ver", {with}, &ok).trimmed(), QByteArray("JET4"));
  QVERIFY(ok);
  matchesReferences(with);
  matchesReferences(without);
}

void TstJetWriter::catalogAndItsIndexes() {
  const QString file = dir_.filePath("catalogo.mdb");
  QStringList names;
  {
    WriterOptions o;
    o.created = kCreated;
    JetWriter w(file, o);
    // Enough tables to take the catalog past one data page.
    for (int i = 0; i < 60; ++i) {
      names << QStringLiteral("TAB%1").arg(3004001 + i);
      w.addTable(names.back(), {{"ID", T::Long}});
      for (int r = 0; r <= i % 3; ++r) w.appendRow({Value(qint64(r))});
    }
    w.finish();
  }
  const QJsonObject dump = mdbReader(file, {"MSysObjects", "MSysACEs"});
  QCOMPARE(dump["tables"].toArray().toVariantList(), QVariantList(names.begin(), names.end()));
  matchesReferences(file);
  QCOMPARE(dump["systemTables"].toArray().toVariantList(),
           QVariantList({"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}));
  bool ok;
  QCOMPARE(QString::fromUtf8(run("mdb-tables", {"-1", file}, &ok)).split('\n', Qt::SkipEmptyParts), names);
  QVERIFY(QString::fromUtf8(run("mdb-tables", {"-S", "-1", file}, &ok)).contains("MSysRelationships"));
  QVERIFY(ok);

  // Containers and the database object, and every table under "Tables".
  const QJsonArray rows = dump["data"].toObject()["MSysObjects"].toObject()["rows"].toArray();
  QMap<QString, QJsonArray> byName;
  for (const auto& r : rows) byName[r.toArray()[2].toString()] = r.toArray();
  for (const char* c : {"Tables", "Databases", "Relationships"}) QCOMPARE(byName[c][3].toInt(), 3);
  QCOMPARE(byName["MSysDb"][3].toInt(), 2);
  QCOMPARE(byName["MSysDb"][1].toInt(), byName["Databases"][0].toInt());
  const int tablesId = byName["Tables"][0].toInt();
  for (const QString& n : names) {
    QCOMPARE(byName[n][3].toInt(), 1);
    QCOMPARE(byName[n][1].toInt(), tablesId);
  }

  // Every table is open to its creator (the owner of MSysDb) and to one more account.
  const QJsonArray aces = dump["data"].toObject()["MSysACEs"].toObject()["rows"].toArray();
  const QString creator = byName["MSysDb"][6].toString();
  QMap<int, QStringList> sids;
  for (const auto& a : aces) {
    const QJsonArray r = a.toArray();
    if (r[2].toInt() == 0xFFEFF) sids[r[0].toInt()] << r[1].toString();
  }
  for (const QString& n : names) {
    QCOMPARE(byName[n][6].toString(), creator);
    QCOMPARE(sids.value(byName[n][0].toInt()).size(), 2);
    QVERIFY(sids.value(byName[n][0].toInt()).contains(creator));
  }
  QVERIFY(QString::fromUtf8(run("mdb-schema", {"--indexes", "-T", "MSysACEs", file, "postgres"}, &ok))
              .contains(R"(CREATE INDEX "msysaces_objectid_idx" ON "msysaces" ("objectid"))"));

  // mdbtools finds the primary key and the unique index in the catalog's definition.
  const QString indexes =
      QString::fromUtf8(run("mdb-schema", {"--indexes", "-T", "MSysObjects", file, "postgres"}, &ok));
  QVERIFY(indexes.contains(R"(ADD CONSTRAINT "msysobjects_pkey" PRIMARY KEY ("id"))"));
  QVERIFY(
      indexes.contains(R"(CREATE UNIQUE INDEX "msysobjects_parentidname_idx" ON "msysobjects" ("parentid", "name"))"));

  // The indexes, read by hand: the definition on page 2 names each index's leaf page; every
  // entry must point at the catalog row with its key, in ascending key order.
  QFile f(file);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray all = f.readAll();
  auto u8 = [&](qint64 at) { return uint8_t(all[at]); };
  auto u16 = [&](qint64 at) { return u8(at) | u8(at + 1) << 8; };
  auto u32 = [&](qint64 at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
  const qint64 tdef = 2 * 4096;
  const int ncols = u16(tdef + 45), nreal = int(u32(tdef + 51));
  QCOMPARE(nreal, 2);
  qint64 pos = tdef + 63 + 12 * nreal + 25 * ncols;
  for (int c = 0; c < ncols; ++c) pos += 2 + u16(pos);
  for (int ix = 0; ix < nreal; ++ix, pos += 52) {
    const QList<int> keyCols = ix == 1 ? QList<int>{0} : QList<int>{1, 2};
    for (int k = 0; k < keyCols.size(); ++k) QCOMPARE(int(u16(pos + 4 + 3 * k)), keyCols[k]);
    const qint64 leaf = qint64(u32(pos + 38)) * 4096;
    QCOMPARE(int(u8(leaf)), 4);
    QByteArray previous;
    int entries = 0, start = 0;
    for (int bit = 1; bit < (0x1E0 - 0x1B) * 8; ++bit) {
      if (!(u8(leaf + 0x1B + bit / 8) & (1 << (bit % 8)))) continue;
      const QByteArray e = all.mid(leaf + 0x1E0 + start, bit - start);
      QVERIFY(previous < e);
      previous = e;
      start = bit;
      ++entries;
      const uint32_t page = uint8_t(e[e.size() - 4]) << 16 | uint8_t(e[e.size() - 3]) << 8 | uint8_t(e[e.size() - 2]);
      const int row = uint8_t(e[e.size() - 1]);
      const qint64 p = qint64(page) * 4096;
      QCOMPARE(int(u8(p)), 1);
      QCOMPARE(u32(p + 4), 2u);  // a row of the catalog
      const qint64 rowAt = p + u16(p + 14 + 2 * row);
      // Id is the catalog's first fixed column, right after the column count.
      const uint32_t id = u32(rowAt + 2), parent = u32(rowAt + 6);
      const uint32_t key =
          (uint32_t(uint8_t(e[1])) << 24 | uint8_t(e[2]) << 16 | uint8_t(e[3]) << 8 | uint8_t(e[4])) ^ 0x80000000u;
      QCOMPARE(key, ix == 1 ? id : parent);
    }
    QCOMPARE(entries, int(rows.size()));
  }
}

void TstJetWriter::manyRowsOnManyPages() {
  const std::vector<ColumnDef> cols = {{"ID_03003", T::Long},     {"ID_03002", T::Long},     {"INICIO", T::DateTime},
                                       {"FIM", T::DateTime},      {"SUBSTITUI", T::Text, 1}, {"VALOR", T::Double},
                                       {"DESCRICAO", T::Text, 60}};
  // Money as Double here: mdb-reader decodes NUMERIC and Currency values a few thousand a
  // second, which would make this test take minutes; both are covered by everyTypeRoundTrips.
  const int n = 200000;
  auto make = [](int i) {
    const QDate d = QDate(2020, 1, 1).addDays(i % 1500);
    return std::vector<Value>{qint64(i + 1),
                              qint64(i / 12),
                              QDateTime(d, QTime(0, 0)),
                              QDateTime(d.addDays(30), QTime(23, 59, 59)),
                              QString(i % 7 ? "N" : "S"),
                              double((qint64(i) * 7919) % 100000000 - 50000000) / 100,
                              i % 10 == 9 ? Value() : Value(QStringLiteral("Declaração nº %1 d'água").arg(i))};
  };
  const QString file = dir_.filePath("muitas.mdb");
  {
    WriterOptions o;
    o.created = kCreated;
    JetWriter w(file, o);
    w.addTable("TAB03003", cols);
    for (int i = 0; i < n; ++i) w.appendRow(make(i));
    w.finish();
  }
  QVERIFY(QFileInfo(file).size() > 2000 * 4096);  // many pages, past an inline usage map
  std::vector<std::vector<Value>> rows;
  rows.reserve(n);
  for (int i = 0; i < n; ++i) rows.push_back(make(i));
  compareTable(file, "TAB03003", cols, rows);
}

void TstJetWriter::wideTableDefinitionOverSeveralPages() {
  // 250 columns with long names need a table definition of about four pages.
  std::vector<ColumnDef> cols;
  std::vector<Value> row, other;
  for (int i = 0; i < 250; ++i) {
    cols.push_back(
        {QStringLiteral("COLUNA_DE_NOME_BEM_COMPRIDO_%1").arg(i, 3, 10, QChar('0')), i % 3 ? T::Text : T::Long, 8});
    row.push_back(i % 3 ? Value(QStringLiteral("v%1").arg(i)) : Value(qint64(i)));
    other.push_back(i % 2 ? Value() : row.back());
  }
  const QString file = dir_.filePath("larga.mdb");
  {
    JetWriter w(file);
    w.addTable("Larga", cols);
    w.appendRow(row);
    w.appendRow(other);
    w.addTable("Depois", {{"A", T::Long}});
    w.appendRow({Value(qint64(5))});
    w.finish();
  }
  compareTable(file, "Larga", cols, {row, other});
  compareTable(file, "Depois", {{"A", T::Long}}, {{qint64(5)}});
}

// 4 November 2018 began at 01:00 in São Paulo (summer time): its midnight does not exist in local
// time. A declaration's dates carry no time zone, so that day at 00:00 is written as it stands.
void TstJetWriter::datesIgnoreTheLocalSummerTime() {
  const QByteArray before = qgetenv("TZ");
  qputenv("TZ", "America/Sao_Paulo");
  tzset();
  auto restore = qScopeGuard([before] {
    if (before.isNull()) qunsetenv("TZ");
    else qputenv("TZ", before);
    tzset();
  });
  const std::vector<ColumnDef> cols = {{"Quando", T::DateTime}};
  const QString file = dir_.filePath("verao.mdb");
  {
    JetWriter w(file);
    w.addTable("Verao", cols);
    w.appendRow({"04/11/2018 00:00:00"});
    w.appendRow({"2018-11-04 00:30:00"});
    w.appendRow({"04/11/2018"});
    w.finish();
  }
  const QList<QStringList> rows = mdbExportRows(file, "Verao");
  QCOMPARE(rows.size(), 4);
  QCOMPARE(rows[1].value(0), QString("2018-11-04 00:00:00"));
  QCOMPARE(rows[2].value(0), QString("2018-11-04 00:30:00"));
  QCOMPARE(rows[3].value(0), QString("2018-11-04 00:00:00"));
}

void TstJetWriter::valuesAsTheExportToolWritesThem() {
  // Text straight from INSERT statements: numbers as written, dates as dd/MM/yyyy HH:mm:ss.
  const std::vector<ColumnDef> cols = {{"Quando", T::DateTime}, {"Hora", T::DateTime}, {"Valor", T::Numeric, 0, 15, 2},
                                       {"Taxa", T::Double},     {"Sim", T::Boolean},   {"N", T::Long},
                                       {"Moeda", T::Currency}};
  const QString file = dir_.filePath("texto.mdb");
  {
    JetWriter w(file);
    w.addTable("Texto", cols);
    w.appendRow({"31/12/2023 23:59:58", "08:30:00", "-1234.5", "0.125", "1", "-42", "7.25"});
    w.appendRow({"01/02/1999 00:00:00", "2001-02-03 04:05:06", "0", "-3", "0", "0", "-0.0001"});
    QVERIFY_THROWS_EXCEPTION(JetError, w.appendRow({"31/02/2023 00:00:00", {}, {}, {}, {}, {}, {}}));
    QVERIFY_THROWS_EXCEPTION(JetError, w.appendRow({{}, {}, {}, "um", {}, {}, {}}));
    w.finish();
  }
  auto dec = [](const char* t) {
    bool ok;
    return Value(Decimal::parse(t, &ok));
  };
  compareTable(file, "Texto", cols,
               {{QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)), QDateTime(QDate(1899, 12, 30), QTime(8, 30)),
                 dec("-1234.5"), 0.125, qint64(1), qint64(-42), dec("7.25")},
                {QDateTime(QDate(1999, 2, 1), QTime(0, 0)), QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)), dec("0"),
                 -3.0, qint64(0), qint64(0), dec("-0.0001")}});
}

void TstJetWriter::declarationMatchesTheReferences() {
  const auto tables = declarationTables();
  QCOMPARE(tables.size(), 48);
  const QString file = dir_.filePath("declaracao.mdb");
  {
    JetWriter w(file);
    for (const auto& [name, cols] : tables) {
      w.addTable(name, cols);
      // One row of nulls, and one with a long text where the table has one.
      w.appendRow(std::vector<Value>(cols.size()));
      std::vector<Value> row(cols.size());
      for (size_t c = 0; c < cols.size(); ++c)
        if (cols[c].type == T::Memo) row[c] = QString(5000, QChar('x'));
      w.appendRow(row);
    }
    w.finish();
  }
  matchesReferences(file);
  QCOMPARE(mdbTables(file).size(), 48);
  QCOMPARE(mdbReader(file)["tables"].toArray().size(), 48);
}

// The comparison is only worth something if it sees a file that departs from Jet's ways.
void TstJetWriter::comparisonSeesADeparture_data() {
  QTest::addColumn<QByteArray>("after");  // the offset counts from the first of these bytes in the catalog's definition
  QTest::addColumn<int>("offset");
  QTest::addColumn<int>("value");
  QTest::addColumn<QString>("field");
  const QByteArray index("\x83\x07\x00\x00", 4);  // a real index's definition begins with 1923
  // clang-format off
  QTest::newRow("página 1 com um mapa de outro tipo") << QByteArray() << 4096 + 4096 - 69 << 1 << "página 1 linhas";
  QTest::newRow("coluna Id sem a marca de sistema")   << QByteArray() << 2 * 4096 + 63 + 24 + 15 << 0x03 << "MSysObjects colunas";
  QTest::newRow("cabeçalho depois da região cifrada") << QByteArray() << 0x98 << 0x55 << "cabeçalho 0x98-0x9F";
  QTest::newRow("índice do catálogo com flag de Jet 3") << index    << 46 << 0x01 << "MSysObjects índices reais";
  // clang-format on
}

void TstJetWriter::comparisonSeesADeparture() {
  QFETCH(QByteArray, after);
  QFETCH(int, offset);
  QFETCH(int, value);
  QFETCH(QString, field);
  const QString file = dir_.filePath("desvio.mdb");
  {
    JetWriter w(file);
    w.addTable("T", {{"A", T::Long}});
    w.finish();
  }
  QByteArray bytes = fileBytes(file);
  QVERIFY(jetDifferences(jetStructure(bytes)).isEmpty());
  if (!after.isEmpty()) offset += int(bytes.indexOf(after, 2 * 4096));
  bytes[offset] = char(value);
  const QStringList diff = jetDifferences(jetStructure(bytes));
  QCOMPARE(diff.size(), 1);
  QVERIFY2(diff[0].startsWith(field + ": "), qPrintable(diff[0]));
}

// A FLOAT at the limit of its range, as the export tool prints it, is the largest float.
void TstJetWriter::singleAtTheEdgeOfItsRange() {
  const QStringList texts = {"3.4028234e38", "-3.4028234E38", "3.4028235E38", "-3.4028235e+38", "1.1754944e-38"};
  const QString file = dir_.filePath("single.mdb");
  {
    JetWriter w(file);
    w.addTable("Limite", {{"F", T::Single}});
    for (const QString& t : texts) w.appendRow({t});
    QVERIFY_THROWS_EXCEPTION(JetError, w.appendRow({"3.4028236e38"}));
    w.finish();
  }
  const float max = std::numeric_limits<float>::max();
  compareTable(file, "Limite", {{"F", T::Single}},
               {{double(max)}, {double(-max)}, {double(max)}, {double(-max)}, {double(1.1754944e-38f)}});
}

void TstJetWriter::refusesWhatItCannotKeepExactly_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<QString>("value");
  // clang-format off
  QTest::newRow("texto longo")       << int(T::Text)     << "abcdefghijk";
  QTest::newRow("casas demais")      << int(T::Numeric)  << "1.234";
  QTest::newRow("dígitos demais")    << int(T::Numeric)  << "12345678901234.5";
  QTest::newRow("moeda 5 casas")     << int(T::Currency) << "1.00001";
  QTest::newRow("byte negativo")     << int(T::Byte)     << "-1";
  QTest::newRow("inteiro grande")    << int(T::Integer)  << "32768";
  QTest::newRow("longo fracionário") << int(T::Long)     << "1.5";
  QTest::newRow("número inválido")   << int(T::Long)     << "1e3";
  QTest::newRow("single grande")     << int(T::Single)   << "1e39";
  // clang-format on
}

void TstJetWriter::refusesWhatItCannotKeepExactly() {
  QFETCH(int, type);
  QFETCH(QString, value);
  JetWriter w(dir_.filePath("recusa.mdb"));
  w.addTable("T", {{"C", ColumnType(type), 10, 15, 2}});
  Value v = value;
  if (ColumnType(type) == T::Single) {
    v = value.toDouble();
  } else if (ColumnType(type) != T::Text) {
    bool ok;
    const Decimal d = Decimal::parse(value, &ok);
    v = ok ? Value(d) : Value(value);
  }
  QVERIFY_THROWS_EXCEPTION(JetError, w.appendRow({v}));
  // A refused row leaves the table usable.
  w.appendRow({Value()});
  w.finish();
  QVERIFY_THROWS_EXCEPTION(JetError, JetWriter(dir_.filePath("x.mdb")).addTable("Tabela-1", {{"A", T::Long}}));
  QVERIFY_THROWS_EXCEPTION(JetError, JetWriter(dir_.filePath("x.mdb")).addTable("MSysOutra", {{"A", T::Long}}));
}

void TstJetWriter::firebirdTypes_data() {
  QTest::addColumn<QString>("firebird");
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("size");  // length of texts, precision*100+scale of decimals
  // clang-format off
  QTest::newRow("smallint")     << "SMALLINT"                   << int(T::Integer) << 0;
  QTest::newRow("integer")      << "INTEGER"                    << int(T::Long)    << 0;
  QTest::newRow("bigint")       << "BIGINT"                     << int(T::Numeric) << 1900;
  QTest::newRow("numeric")      << "NUMERIC(15,2)"              << int(T::Numeric) << 1502;
  QTest::newRow("decimal")      << "decimal(18, 4)"             << int(T::Numeric) << 1804;
  QTest::newRow("float")        << "FLOAT"                      << int(T::Single)  << 0;
  QTest::newRow("double")       << "DOUBLE PRECISION"           << int(T::Double)  << 0;
  QTest::newRow("date")         << "DATE"                       << int(T::DateTime) << 0;
  QTest::newRow("timestamp")    << "TIMESTAMP"                  << int(T::DateTime) << 0;
  QTest::newRow("char")         << "CHAR(1)"                    << int(T::Text)    << 1;
  QTest::newRow("varchar 255")  << "VARCHAR(255)"               << int(T::Text)    << 255;
  QTest::newRow("varchar 256")  << "VARCHAR(256)"               << int(T::Memo)    << 0;
  QTest::newRow("charset")      << "VARCHAR(60) CHARACTER SET WIN1252" << int(T::Text) << 60;
  QTest::newRow("blob texto")   << "BLOB SUB_TYPE TEXT"         << int(T::Memo)    << 0;
  QTest::newRow("blob binário") << "BLOB SUB_TYPE 0"            << int(T::Ole)     << 0;
  QTest::newRow("boolean")      << "BOOLEAN"                    << int(T::Boolean) << 0;
  QTest::newRow("desconhecido") << "GEOMETRY"                   << -1              << 0;
  // clang-format on
}

void TstJetWriter::firebirdTypes() {
  QFETCH(QString, firebird);
  QFETCH(int, type);
  QFETCH(int, size);
  bool ok;
  const ColumnDef c = columnForFirebirdType("C", firebird, &ok);
  QCOMPARE(ok, type >= 0);
  if (!ok) return;
  QCOMPARE(int(c.type), type);
  if (c.type == T::Text) QCOMPARE(c.length, size);
  if (c.type == T::Numeric) QCOMPARE(c.precision * 100 + c.scale, size);
}

QTEST_GUILESS_MAIN(TstJetWriter)
#include "tst_jetwriter.moc"
