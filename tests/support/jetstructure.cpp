#include "support/jetstructure.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <cstring>

#include "support/testenv.h"

// Offsets from the public descriptions of the format (mdbtools' HACKING notes); this reader
// shares no code with the writer, so a field the writer gets wrong is read as it stands.

namespace {

constexpr int kPage = 4096;

struct Bytes {
  QByteArray d;
  uint32_t u8(qint64 at) const { return at >= 0 && at < d.size() ? uint8_t(d[at]) : 0; }
  uint32_t u16(qint64 at) const { return u8(at) | u8(at + 1) << 8; }
  uint32_t u32(qint64 at) const { return u16(at) | u16(at + 2) << 16; }
  QString hex(qint64 at, int n) const { return QString::fromLatin1(d.mid(at, n).toHex(' ')); }
};

void rc4(const uint8_t* key, int keyLength, char* data, int length) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % keyLength]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (int n = 0, i = 0, j = 0; n < length; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[n] = char(uint8_t(data[n]) ^ s[(s[i] + s[j]) & 0xFF]);
  }
}

struct Column {
  int type = 0, num = 0, varIndex = 0, flags = 0, flags2 = 0, misc = 0, miscExt = 0, fixedOffset = 0, length = 0;
  QString name;
};
struct TableDef {
  bool ok = false;
  int type = 0, byte24 = 0, varCount = 0;
  QList<Column> cols;  // in column number order
  QStringList real, logical, realHeads;
  QList<int> lvColumns;
};

QString hexNumber(uint32_t v) { return QString::number(v, 16); }

TableDef readTableDef(const Bytes& f, uint32_t page) {
  TableDef t;
  Bytes b;
  QSet<uint32_t> seen;
  for (uint32_t p = page; p && !seen.contains(p) && qint64(p) * kPage < f.d.size(); p = f.u32(qint64(p) * kPage + 4)) {
    seen.insert(p);
    const QByteArray pg = f.d.mid(qint64(p) * kPage, kPage);
    if (uint8_t(pg[0]) != 0x02) return t;
    b.d += p == page ? pg : pg.mid(8);
  }
  t.type = int(b.u8(40));
  t.byte24 = int(b.u8(24));
  t.varCount = int(b.u16(43));
  const int ncols = int(b.u16(45)), nidx = int(b.u32(47)), nreal = int(b.u32(51));
  if (nidx > 64 || nreal > 64) return t;
  qint64 o = 63;
  for (int i = 0; i < nreal; ++i, o += 12) t.realHeads << hexNumber(b.u32(o));
  for (int i = 0; i < ncols; ++i, o += 25) {
    Column c;
    c.type = int(b.u8(o));
    c.num = int(b.u16(o + 5));
    c.varIndex = int(b.u16(o + 7));
    c.misc = int(b.u16(o + 11));
    c.miscExt = int(b.u16(o + 13));
    c.flags = int(b.u8(o + 15));
    c.flags2 = int(b.u8(o + 16));
    c.fixedOffset = int(b.u16(o + 21));
    c.length = int(b.u16(o + 23));
    t.cols << c;
  }
  for (Column& c : t.cols) {
    const int n = int(b.u16(o));
    c.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(b.d.constData() + o + 2), n / 2);
    o += 2 + n;
  }
  std::sort(t.cols.begin(), t.cols.end(), [](const Column& x, const Column& y) { return x.num < y.num; });
  for (int i = 0; i < nreal; ++i, o += 52) {
    QStringList cols;
    for (int k = 0; k < 10; ++k)
      if (b.u16(o + 4 + 3 * k) != 0xFFFF)
        cols << QStringLiteral("%1/%2").arg(b.u16(o + 4 + 3 * k)).arg(b.u8(o + 6 + 3 * k));
    t.real << QStringLiteral("(%1) flags %2").arg(cols.join(' '), hexNumber(b.u8(o + 46)));
  }
  QList<QPair<uint32_t, QString>> logical;
  for (int i = 0; i < nidx; ++i, o += 28)
    logical << qMakePair(uint32_t(0), QStringLiteral("nº %1 real %2 rel %3/%4 %5 %6 tipo %7")
                                          .arg(b.u32(o + 4))
                                          .arg(b.u32(o + 8))
                                          .arg(b.u8(o + 12))
                                          .arg(hexNumber(b.u32(o + 13)))
                                          .arg(b.u8(o + 21))
                                          .arg(b.u8(o + 22))
                                          .arg(b.u8(o + 23)));
  for (auto& l : logical) {
    const int n = int(b.u16(o));
    t.logical << QString::fromUtf16(reinterpret_cast<const char16_t*>(b.d.constData() + o + 2), n / 2) + ": " +
                     l.second;
    o += 2 + n;
  }
  for (int guard = 0; b.u16(o) != 0xFFFF && guard < 256 && o < b.d.size(); ++guard, o += 10)
    t.lvColumns << int(b.u16(o));
  std::sort(t.lvColumns.begin(), t.lvColumns.end());
  t.ok = true;
  return t;
}

// The rows of a data page (deleted and overflow rows left out), with their starts.
QList<QPair<int, QByteArray>> pageRows(const Bytes& f, uint32_t page) {
  QList<QPair<int, QByteArray>> rows;
  const qint64 p = qint64(page) * kPage;
  const int count = int(f.u16(p + 12));
  for (int i = 0; i < count && i < 255; ++i) {
    const uint32_t start = f.u16(p + 14 + 2 * i);
    const int end = i == 0 ? kPage : int(f.u16(p + 14 + 2 * (i - 1)) & 0x1FFF);
    if (start & 0xC000) {
      rows << qMakePair(-1, QByteArray());
      continue;
    }
    rows << qMakePair(int(start), f.d.mid(p + start, std::max(0, end - int(start))));
  }
  return rows;
}

// One row's cells by column name; a missing key is null.
QHash<QString, QByteArray> decodeRow(const TableDef& t, const QByteArray& raw) {
  QHash<QString, QByteArray> out;
  const int n = int(t.cols.size()), maskBytes = (n + 7) / 8;
  if (raw.size() < 2 + maskBytes) return out;
  const Bytes r{raw};
  const qint64 maskAt = raw.size() - maskBytes;
  const int nvar = int(r.u16(maskAt - 2));
  auto varOffset = [&](int k) { return int(r.u16(maskAt - 4 - 2 * k)); };
  for (const Column& c : t.cols) {
    const bool present = r.u8(maskAt + c.num / 8) & (1 << (c.num % 8));
    if (c.type == 1) {
      out[c.name] = QByteArray(1, present ? '\1' : '\0');
      continue;
    }
    if (!present) continue;
    if (c.flags & 1) {
      out[c.name] = raw.mid(2 + c.fixedOffset, c.length);
    } else if (c.varIndex < nvar) {
      const int a = varOffset(c.varIndex), b = varOffset(c.varIndex + 1);
      out[c.name] = raw.mid(a, std::max(0, b - a));
    }
  }
  return out;
}

QString joinSorted(QStringList l) {
  l.sort();
  l.removeDuplicates();
  return l.join(QStringLiteral(" | "));
}

}  // namespace

JetStructure jetStructure(const QByteArray& file) {
  JetStructure s;
  if (file.size() < 3 * kPage || file.mid(4, 15) != "Standard Jet DB" || uint8_t(file[0x14]) != 1) return s;
  const Bytes f{file};
  const qint64 pages = file.size() / kPage;

  // Header, with its masked region decoded.
  Bytes h{file.left(kPage)};
  const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  rc4(key, 4, h.d.data() + 0x18, 128);
  s["cabeçalho 0x18-0x2F"] = h.hex(0x18, 24);
  s["cabeçalho 0x30-0x3B"] = h.hex(0x30, 12);
  s["cabeçalho 0x3C página de código, 0x3E chave"] = h.hex(0x3C, 6);
  s["cabeçalho 0x6E ordem"] = h.hex(0x6E, 4);
  s["cabeçalho 0x7A-0x97"] = h.hex(0x7A, 0x98 - 0x7A);
  s["cabeçalho 0x98-0x9F"] = h.hex(0x98, 8);
  s["cabeçalho 0xA0-0xDFF vazio"] = h.d.mid(0xA0, 0xE00 - 0xA0).count('\0') == 0xE00 - 0xA0 ? "sim" : "não";
  {
    QStringList words;
    for (int i = 0; i < 256; ++i) words << hexNumber(h.u16(0xE00 + 2 * i));
    const int rest = int(std::count(words.begin() + 1, words.end(), words[1]));
    s["cabeçalho 0xE00-0xFFF"] = rest == 255 ? words[0] + " e 255×" + words[1] : words.join(' ');
  }

  // The catalog.
  const TableDef objects = readTableDef(f, 2);
  if (!objects.ok) return s;
  QMultiHash<uint32_t, uint32_t> dataPages;  // definition page -> its data pages
  for (uint32_t p = 0; p < pages; ++p)
    if (f.u8(qint64(p) * kPage) == 0x01 && file.mid(qint64(p) * kPage + 4, 4) != "LVAL")
      dataPages.insert(f.u32(qint64(p) * kPage + 4), p);
  struct Obj {
    uint32_t id, parent, flags;
    int type;
    QString name;
    QByteArray owner;
  };
  QList<Obj> objs;
  bool compressedNames = false;
  for (uint32_t p : dataPages.values(2)) {
    for (const auto& [start, raw] : pageRows(f, p)) {
      if (start < 0) continue;
      const auto cells = decodeRow(objects, raw);
      const Bytes id{cells.value("Id")}, parent{cells.value("ParentId")}, type{cells.value("Type")},
          flags{cells.value("Flags")};
      const QByteArray name = cells.value("Name");
      compressedNames = compressedNames || name.startsWith("\xFF\xFE");
      const QString text =
          name.startsWith("\xFF\xFE")
              ? QString::fromLatin1(name.mid(2))
              : QString::fromUtf16(reinterpret_cast<const char16_t*>(name.constData()), name.size() / 2);
      objs << Obj{id.u32(0), parent.u32(0), flags.u32(0), int(int16_t(type.u16(0))), text, cells.value("Owner")};
    }
  }
  QByteArray creator;
  for (const Obj& o : objs)
    if (o.name == "MSysDb") creator = o.owner;
  auto relative = [&](const QByteArray& sid) {
    if (sid.size() != 2 || creator.size() != 2) return QStringLiteral("longo");
    const uint32_t x = (uint8_t(sid[0]) << 8 | uint8_t(sid[1])) ^ (uint8_t(creator[0]) << 8 | uint8_t(creator[1]));
    return x == 0 ? QStringLiteral("O") : QStringLiteral("O^%1").arg(x, 4, 16, QChar('0'));
  };
  s["conjunto por arquivo (criação, versão do motor, dono)"] =
      h.hex(0x72, 8) + " / " + h.hex(0x6A, 4) + " / " + QString::fromLatin1(creator.toHex());
  s["catálogo nomes em UCS-2"] = compressedNames ? "não" : "sim";
  const QStringList base = {"Tables",      "Databases", "Relationships", "MSysDb",
                            "MSysObjects", "MSysACEs",  "MSysQueries",   "MSysRelationships"};
  QHash<uint32_t, QString> objectKey;  // Id -> how the ACEs name it
  QHash<QString, uint32_t> tdefOf;
  QStringList userRows;
  for (const Obj& o : objs) {
    const QString row = QStringLiteral("ParentId %1 Type %2 Flags %3 dono %4")
                            .arg(hexNumber(o.parent))
                            .arg(o.type)
                            .arg(hexNumber(o.flags), relative(o.owner));
    if (o.type == 1) tdefOf[o.name] = o.id & 0xFFFFFF;
    if (base.contains(o.name)) {
      s["catálogo " + o.name] = QStringLiteral("Id %1 ").arg(hexNumber(o.id)) + row;
      objectKey[o.id] = o.name;
    } else if (o.type == 1 && o.flags == 0) {
      userRows << row;
      objectKey[o.id] = QStringLiteral("tabela do usuário");
    }
  }
  if (!userRows.isEmpty()) s["catálogo tabela do usuário"] = joinSorted(userRows);

  // System tables' definitions and the permission rows.
  for (const QString name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
    if (!tdefOf.contains(name)) continue;
    const TableDef t = readTableDef(f, tdefOf[name]);
    QStringList cols;
    for (const Column& c : t.cols)
      cols << QStringLiteral("%1 tipo %2 tam %3 flags %4/%5 misc %6/%7")
                  .arg(c.name)
                  .arg(c.type)
                  .arg(c.length)
                  .arg(hexNumber(uint32_t(c.flags)), hexNumber(uint32_t(c.flags2)))
                  .arg(c.misc)
                  .arg(c.miscExt);
    QStringList lv;
    for (int c : t.lvColumns) lv << QString::number(c);
    s[name + " colunas"] = cols.join(" ; ");
    s[name + " índices reais"] = t.real.join(" ; ");
    s[name + " cabeças dos índices reais"] = t.realHeads.join(' ');
    s[name + " índices lógicos"] = t.logical.join(" ; ");
    s[name + " mapas de valores longos"] = lv.join(' ');
    s[name + " tipo, byte 24"] = QStringLiteral("%1 %2").arg(hexNumber(uint32_t(t.type))).arg(t.byte24);
    if (name != "MSysACEs") continue;
    QHash<uint32_t, QStringList> aces;
    for (uint32_t p : dataPages.values(tdefOf[name]))
      for (const auto& [start, raw] : pageRows(f, p)) {
        if (start < 0) continue;
        const auto cells = decodeRow(t, raw);
        const QByteArray sid = cells.value("SID");
        // Long SIDs are accounts only Access adds: an engine-made file has none.
        if (sid.size() != 2) continue;
        aces[Bytes{cells.value("ObjectId")}.u32(0)]
            << QStringLiteral("%1 %2%3").arg(relative(sid), hexNumber(Bytes{cells.value("ACM")}.u32(0)),
                                             cells.value("FInheritable") == QByteArray(1, '\1') ? " herdável" : "");
      }
    QHash<QString, QStringList> byKey;
    for (auto it = aces.cbegin(); it != aces.cend(); ++it)
      if (objectKey.contains(it.key())) byKey[objectKey[it.key()]] << joinSorted(it.value()).replace(" | ", ", ");
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) s["ACEs " + it.key()] = joinSorted(it.value());
  }

  // Page 1: the global usage map.
  {
    const auto rows = pageRows(f, 1);
    QStringList kinds;
    bool pastEndFree = true;
    for (int r = 0; r < rows.size(); ++r) {
      const Bytes row{rows[r].second};
      kinds << QStringLiteral("%1 desde %2 (%3 bytes)").arg(row.u8(0)).arg(row.u32(1)).arg(row.d.size());
      if (r == 0 && row.u8(0) == 0)
        for (qint64 p = std::max<qint64>(pages, row.u32(1)); p < row.u32(1) + 8 * (row.d.size() - 5); ++p)
          pastEndFree = pastEndFree && (row.u8(5 + (p - row.u32(1)) / 8) & (1 << ((p - row.u32(1)) % 8)));
    }
    s["página 1 linhas"] = kinds.join(" ; ");
    s["página 1 além do fim marcadas livres"] = pastEndFree ? "sim" : "não";
  }

  // Long values of every table: where they are kept.
  int inlineMax = -1;
  bool rowsFrom14 = true;
  QHash<uint32_t, QSet<QString>> columnsOfPage;
  QStringList chainPieces;
  for (auto it = tdefOf.cbegin(); it != tdefOf.cend(); ++it) {
    const TableDef t = readTableDef(f, it.value());
    QList<Column> lvCols;
    for (const Column& c : t.cols)
      if (c.type == 11 || c.type == 12) lvCols << c;
    if (lvCols.isEmpty()) continue;
    for (uint32_t p : dataPages.values(it.value()))
      for (const auto& [start, raw] : pageRows(f, p)) {
        if (start < 0) continue;
        const auto cells = decodeRow(t, raw);
        for (const Column& c : lvCols) {
          const Bytes ref{cells.value(c.name)};
          if (ref.d.size() < 12) continue;
          const uint32_t len = ref.u32(0), ptr = ref.u32(4);
          const QString column = it.key() + "." + c.name;
          if (len & 0x80000000u) {
            inlineMax = std::max(inlineMax, int(len & 0x3FFFFFFF));
            continue;
          }
          QSet<uint32_t> seen;
          for (uint32_t at = ptr; at && !seen.contains(at >> 8) && (at >> 8) < pages;) {
            seen.insert(at >> 8);
            columnsOfPage[at >> 8] << column;
            const auto lrows = pageRows(f, at >> 8);
            if (int(at & 0xFF) >= lrows.size()) break;
            const auto& [rs, rr] = lrows[int(at & 0xFF)];
            rowsFrom14 = rowsFrom14 && rs >= 0x14;
            if (len & 0x40000000u) break;
            const uint32_t next = Bytes{rr}.u32(0);
            if (next)
              chainPieces << QStringLiteral("início %1 tamanho %2 livre %3")
                                 .arg(hexNumber(uint32_t(rs)))
                                 .arg(rr.size())
                                 .arg(f.u16(qint64(at >> 8) * kPage + 2));
            at = next;
          }
        }
      }
  }
  if (inlineMax >= 0) s["valores longos na linha até 64 bytes"] = inlineMax <= 64 ? "sim" : "não";
  if (!columnsOfPage.isEmpty()) {
    bool shared = false;
    for (const auto& cols : columnsOfPage) shared = shared || cols.size() > 1;
    s["valores longos página compartilhada entre colunas"] = shared ? "sim" : "não";
    s["valores longos linhas desde 0x14"] = rowsFrom14 ? "sim" : "não";
  }
  if (!chainPieces.isEmpty()) s["valores longos peças encadeadas"] = joinSorted(chainPieces);
  return s;
}

const QList<JetStructure>& jetReferenceStructures() {
  static const QList<JetStructure> refs = [] {
    QList<JetStructure> out;
    for (const char* name :
         {"access2000_com_senha.mdb", "access2000_vazio.mdb", "jet4_adox_motor.mdb", "jet4_vazio_motor.mdb"}) {
      QFile f(testData(QStringLiteral("access/referencia/") + name));
      if (f.open(QIODevice::ReadOnly)) out << jetStructure(f.readAll());
    }
    return out;
  }();
  return refs;
}

QStringList jetDifferences(const JetStructure& ours, const JetStructure& expected) {
  const QList<JetStructure>& refs = jetReferenceStructures();
  QStringList out;
  if (refs.size() != 4 || ours.isEmpty()) return {QStringLiteral("corpus ou arquivo ilegível")};
  for (auto it = ours.cbegin(); it != ours.cend(); ++it) {
    QStringList theirs;
    for (const JetStructure& r : refs)
      if (r.contains(it.key())) theirs << r[it.key()];
    if (theirs.isEmpty()) {
      if (expected.contains(it.key()) && expected[it.key()] != it.value())
        out << it.key() + ": " + it.value() + " ≠ " + expected[it.key()];
    } else if (!theirs.contains(it.value())) {
      theirs.removeDuplicates();
      out << it.key() + ": " + it.value() + " ≠ " + theirs.join(" / ");
    }
  }
  // What every reference has and ours lacks.
  for (auto it = refs[0].cbegin(); it != refs[0].cend(); ++it)
    if (!ours.contains(it.key()) &&
        std::all_of(refs.begin(), refs.end(), [&](const JetStructure& r) { return r.contains(it.key()); }))
      out << it.key() + ": ausente";
  return out;
}
