#include "access/jetwriter.h"

#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "base/privatefile.h"

// Facts about the Jet 4 file come from the public descriptions of the format (mdbtools' HACKING
// notes, the Jackcess and mdb-reader documentation); each is noted where it is used.

namespace jet {
namespace {

// Jet 4 pages are 4096 bytes; every structure lives inside one.
constexpr int kPage = 4096;
// Data page: type, 1, free space, owning table's definition page, 4 unknown, row count, then
// the row offsets; rows fill the page from its end backwards.
constexpr int kDataHeader = 14;
// A row is addressed as page << 8 | row, so a page holds at most 255 rows.
constexpr int kMaxRowsPerPage = 255;
// Seen in every table and column definition Access writes (the "unknown" 4 bytes).
constexpr uint32_t kMagicTable = 1625;
constexpr uint32_t kMagicIndex = 1923;
// An inline usage map: type 0, first page, then one bit per page.
constexpr int kInlineMapBytes = 64;
// A usage-map page (type 5) has a 4-byte header and then one bit per page.
constexpr uint32_t kPagesPerMapPage = (kPage - 4) * 8;
// The indirect usage map lists up to 17 usage-map pages, which cover the 2 GB a file may hold.
constexpr int kMapPagesPerRow = 17;
// Long values: a row on an LVAL page starts at 0x14 at the earliest (Jet leaves 4 bytes after the
// first row offset), so it holds 4076 bytes; a chained piece gives 4 of them to the pointer to
// the next piece. Up to 64 bytes stay inline in the row, as the engine keeps them.
constexpr int kLvalRowStart = 0x14;
constexpr int kLvalRowMax = kPage - kLvalRowStart;
constexpr int kLvalChunk = kLvalRowMax - 4;
constexpr int kInlineLongValue = 64;
// Compressed unicode is only allowed for memos up to this many characters.
constexpr int kMemoCompressMax = 1024;
// Catalog objects below the tables: "Tables", "Databases", "Relationships" (containers), "MSysDb".
constexpr int32_t kRootParent = 0x0F000000;
constexpr int32_t kTablesId = 0x0F000001;
constexpr int32_t kDatabasesId = 0x0F000002;
constexpr int32_t kRelationshipsId = 0x0F000003;
constexpr int32_t kMsysDbId = 0x10000000;
constexpr uint32_t kSystemFlags = 0x80000000;

// Values Jet draws per database when it creates one: the creation date (which also keys the
// password's mask), the engine's build number and the mask of the account SIDs stored in the
// catalog. They cannot be derived, so one engine-made file's set is carried whole (README).
constexpr uint64_t kCarriedCreatedBits = 0x40E4EC4F6BD4AF81;  // 42850.48191293982
constexpr uint32_t kCarriedBuild = 0x11A6;
constexpr uint16_t kCarriedOwner = 0x07E8;  // the creator (Admin), owner of MSysDb
// The other accounts of the default workgroup follow from the owner by fixed xor patterns.
constexpr uint16_t kEngineSidXor = 0x0102;  // owns the containers and system tables
constexpr uint16_t kUsersSidXor = 0x0100;
constexpr uint16_t kAdminsSidXor = 0x0105;
QByteArray sid(uint16_t xorWith) {
  const uint16_t v = kCarriedOwner ^ xorWith;
  const char bytes[2] = {char(v >> 8), char(v & 0xFF)};
  return QByteArray(bytes, 2);
}
double carriedCreated() {
  double d;
  std::memcpy(&d, &kCarriedCreatedBits, 8);
  return d;
}

void put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
void putDouble(uint8_t* p, double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  put64(p, u);
}

struct Bytes : std::vector<uint8_t> {
  void u8(uint32_t v) { push_back(uint8_t(v)); }
  void u16(uint32_t v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v);
    u16(v >> 16);
  }
  void zeros(size_t n) { insert(end(), n, 0); }
  void append(const uint8_t* p, size_t n) { insert(end(), p, p + n); }
  void ucs2(const QString& s) {
    for (QChar c : s) u16(c.unicode());
  }
};

// The header's masked region: RC4 with this fixed key, 128 bytes from 0x18 in Jet 4.
constexpr uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr int kHeaderMaskStart = 0x18;
constexpr int kHeaderMaskLength = 128;
constexpr int kPasswordOffset = 0x42;
constexpr int kPasswordBytes = 40;
constexpr int kCreatedOffset = 0x72;

void rc4(const uint8_t* key, int keyLength, uint8_t* data, int length) {
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
    data[n] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

// Dates are days since 1899-12-30; before that day the time of day still counts forwards, so
// the fraction is subtracted from the negative day number.
double toJetDate(const QDate& date, const QTime& time) {
  const qint64 days = QDate(1899, 12, 30).daysTo(date);
  const double frac = time.msecsSinceStartOfDay() / 86400000.0;
  return days >= 0 ? double(days) + frac : double(days) - frac;
}
double toJetDate(const QDateTime& dt) { return toJetDate(dt.date(), dt.time()); }

int digits(const QString& t, int at, int n) {
  int v = 0;
  for (int i = at; i < at + n; ++i) {
    const char16_t c = t.at(i).unicode();
    if (c < u'0' || c > u'9') return -1;
    v = v * 10 + (c - u'0');
  }
  return v;
}

// Dates as the export tool writes them ("dd/MM/yyyy HH:mm:ss", a time alone for TIME
// columns) or in ISO order; a time alone lies on day 0, 1899-12-30. The parts are read apart,
// with no time zone: a day whose midnight a summer-time rule skips is still that day at 00:00.
bool parseDateText(const QString& text, QDate* date, QTime* time) {
  const QString t = text.trimmed();
  // The export tool's own form, many times per table: read directly.
  if (t.size() == 19 && t.at(2) == u'/' && t.at(5) == u'/' && t.at(10) == u' ' && t.at(13) == u':' &&
      t.at(16) == u':') {
    *date = QDate(digits(t, 6, 4), digits(t, 3, 2), digits(t, 0, 2));
    *time = QTime(digits(t, 11, 2), digits(t, 14, 2), digits(t, 17, 2));
    return date->isValid() && time->isValid();
  }
  qsizetype cut = t.indexOf(u' ');
  if (cut < 0) cut = t.indexOf(u'T');
  const QString day = cut < 0 ? t : t.left(cut);
  const QString clock = cut < 0 ? QString() : t.mid(cut + 1);
  for (const char* f : {"dd/MM/yyyy", "yyyy-MM-dd"}) {
    *date = QDate::fromString(day, QLatin1String(f));
    if (!date->isValid()) continue;
    if (clock.isEmpty()) {
      *time = QTime(0, 0);
      return true;
    }
    for (const char* g : {"HH:mm:ss", "HH:mm:ss.zzz"}) {
      *time = QTime::fromString(clock, QLatin1String(g));
      if (time->isValid()) return true;
    }
    return false;
  }
  for (const char* f : {"HH:mm:ss", "HH:mm:ss.zzz", "HH:mm"}) {
    *time = QTime::fromString(t, QLatin1String(f));
    if (time->isValid()) {
      *date = QDate(1899, 12, 30);
      return true;
    }
  }
  return false;
}

// The password's mask: the creation date's whole day number, 4 bytes repeated.
std::array<uint8_t, 4> passwordMask(double created) {
  std::array<uint8_t, 4> m{};
  put32(m.data(), uint32_t(int32_t(std::floor(created))));
  return m;
}

Int128 pow10(int n) {
  Int128 r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

// Value exactly at another scale; false when digits would be lost or it overflows 38 digits.
bool rescale(const Decimal& d, int scale, Int128* out) {
  if (d.scale <= scale) {
    const Int128 f = pow10(scale - d.scale);
    const Int128 limit = pow10(38);
    if (d.unscaled != 0 && (d.unscaled > limit / f || d.unscaled < -limit / f)) return false;
    *out = d.unscaled * f;
    return true;
  }
  const Int128 f = pow10(d.scale - scale);
  if (d.unscaled % f != 0) return false;
  *out = d.unscaled / f;
  return true;
}

// Texts are UCS-2; a text whose characters all lie in 1..255 is stored "compressed": FF FE and
// then one byte per character (the reader switches modes on a 00 byte, which we never need).
void encodeText(const QString& s, bool mayCompress, Bytes* out) {
  bool compress = mayCompress && s.size() > 2;
  if (compress)
    for (QChar c : s)
      if (c.unicode() == 0 || c.unicode() > 0xFF) {
        compress = false;
        break;
      }
  if (compress) {
    out->u8(0xFF);
    out->u8(0xFE);
    for (QChar c : s) out->u8(c.unicode());
  } else {
    out->ucs2(s);
  }
}

// Access's sort codes for index keys of the catalog's names (the "General" order of Access
// 2000): the text is upper-cased, each character becomes its code, then 01 and 00 end it.
bool nameKeyCodes(const QString& name, Bytes* out) {
  for (QChar ch : name.toUpper()) {
    const char16_t c = ch.unicode();
    if (c >= '0' && c <= '9') {
      out->u8(54 + 2 * (c - '0'));
    } else if (c >= 'A' && c <= 'Z') {
      static const uint8_t letters[26] = {74, 76,  77,  79,  81,  83,  85,  87,  89,  91,  92,  94,  96,
                                          98, 100, 102, 104, 105, 107, 109, 111, 113, 115, 117, 118, 120};
      out->u8(letters[c - 'A']);
    } else if (c == ' ') {
      out->u8(7);
    } else if (c == '_') {
      out->u8(43);
      out->u8(3);
    } else {
      return false;
    }
  }
  out->u8(1);
  out->u8(0);
  return true;
}

// Index keys of integers: big-endian with the sign bit flipped, after the 7F "not null" flag.
void intKey(int32_t v, Bytes* out) {
  out->u8(0x7F);
  const uint32_t u = uint32_t(v) ^ 0x80000000u;
  for (int i = 3; i >= 0; --i) out->u8(u >> (8 * i));
}

struct Col {
  ColumnDef def;
  uint8_t code = 0;
  bool fixed = false;
  int size = 0;         // bytes in the fixed area, or the declared maximum of a variable column
  int fixedOffset = 0;  // within the fixed area
  int varIndex = 0;
  bool longValue = false;
  bool compressed = false;
  uint8_t extraFlags = 0;  // flag bits Jet sets on particular catalog columns
};

struct IndexDef {
  QString name;
  std::vector<int> columns;
  uint32_t rootPage = 0;
  uint32_t mapPointer = 0;
  uint8_t flags = 0;
  int number = 0;        // the logical index's number (its order of creation)
  bool primary = false;  // the table's primary key
};

struct Table {
  QString name;
  std::vector<Col> cols;
  bool system = false;
  uint32_t tdefPage = 0;
  uint32_t rows = 0;
  int fixedSize = 0;
  int varCount = 0;
  std::vector<uint32_t> dataPages;
  std::vector<std::vector<uint32_t>> lvPages;  // per long-value column, in column order
  std::vector<IndexDef> indexes;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

Decimal Decimal::parse(const QString& text, bool* ok) {
  Decimal d;
  *ok = false;
  const QString t = text.trimmed();
  int i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  int digits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    const QChar c = t[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c.isDigit() && c.unicode() < 128) {
      if (digits >= 38) return d;
      if (digits > 0 || c != '0') ++digits;
      d.unscaled = d.unscaled * 10 + (c.unicode() - '0');
      if (point) ++d.scale;
    } else {
      return d;
    }
  }
  if (t.isEmpty() || (t.size() == 1 && !t[0].isDigit()) || d.scale > 38) return d;
  if (negative) d.unscaled = -d.unscaled;
  *ok = true;
  return d;
}

QString Decimal::toString() const {
  UInt128 mag = unscaled < 0 ? -static_cast<UInt128>(unscaled) : static_cast<UInt128>(unscaled);
  QString digits;
  do {
    digits.prepend(QChar('0' + int(mag % 10)));
    mag /= 10;
  } while (mag > 0);
  while (digits.size() <= scale) digits.prepend('0');
  if (scale > 0) digits.insert(digits.size() - scale, '.');
  return unscaled < 0 ? '-' + digits : digits;
}

// ---------------------------------------------------------------------------------------------

struct JetWriter::Impl {
  QFile file;
  WriterOptions options;
  double created = 0;
  // 0 header, 1 global usage map, 2 to 5 the system tables' definitions.
  uint32_t nextPage = 6;
  std::vector<Table> tables;
  bool finished = false;

  // The page being filled for the current table, and its LVAL page for long values.
  std::array<uint8_t, kPage> page{};
  int pageRows = 0;
  int pageFree = 0;
  Bytes row, fixedArea, varArea, scratch;

  void writePage(uint32_t number, const uint8_t* data) {
    if (!file.seek(qint64(number) * kPage) || file.write(reinterpret_cast<const char*>(data), kPage) != kPage)
      throw JetWriteError("gravação falhou: " + file.errorString().toStdString());
  }

  void startDataPage(uint32_t tdef) {
    page.fill(0);
    page[0] = 0x01;
    page[1] = 0x01;
    put32(&page[4], tdef);
    pageRows = 0;
    pageFree = kPage - kDataHeader;
  }
  // Rows of a fresh page are numbered from 0; returns page << 8 | row (page assigned on flush,
  // so the caller gets the row only).
  void flushDataPage(Table& t) {
    if (pageRows == 0) return;
    put16(&page[2], pageFree);
    put16(&page[12], pageRows);
    const uint32_t n = nextPage++;
    writePage(n, page.data());
    t.dataPages.push_back(n);
    startDataPage(t.tdefPage);
  }
  // Places a row; returns its row number on the page that the next flush will number.
  int placeRow(Table& t, const Bytes& r) {
    if (int(r.size()) + 2 > pageFree || pageRows == kMaxRowsPerPage) flushDataPage(t);
    const int end = pageRows == 0
                        ? kPage
                        : (page[kDataHeader + 2 * (pageRows - 1)] | page[kDataHeader + 2 * (pageRows - 1) + 1] << 8);
    const int start = end - int(r.size());
    std::memcpy(&page[start], r.data(), r.size());
    put16(&page[kDataHeader + 2 * pageRows], start);
    pageFree -= int(r.size()) + 2;
    return pageRows++;
  }

  // LVAL pages: like data pages but "LVAL" where the table's page would be. Each long-value
  // column fills pages of its own, as the engine never mixes two columns on one page.
  struct LvalPage {
    std::array<uint8_t, kPage> p{};
    uint32_t number = 0;
    int rows = 0;
  };
  std::vector<LvalPage> lvals;  // per long-value column of the table being filled

  static int lvalFree(const LvalPage& l, int rows) {
    const int end =
        rows == 0 ? kPage : (l.p[kDataHeader + 2 * (rows - 1)] | l.p[kDataHeader + 2 * (rows - 1) + 1] << 8);
    return end - (kDataHeader + 2 * rows);
  }
  void flushLval(LvalPage& l) {
    if (l.number == 0) return;
    put16(&l.p[2], uint32_t(lvalFree(l, l.rows)));
    put16(&l.p[12], uint32_t(l.rows));
    writePage(l.number, l.p.data());
    l.number = 0;
  }
  void flushLvals() {
    for (LvalPage& l : lvals) flushLval(l);
  }
  static void noteLvPage(std::vector<uint32_t>& pages, uint32_t p) {
    if (pages.empty() || pages.back() != p) pages.push_back(p);
  }
  // The 12-byte reference of a memo/OLE value: length with flags in its top bits (80 inline,
  // 40 one LVAL row, 00 a chain of LVAL rows), the row pointer, 4 unused bytes.
  void putLongValue(const Bytes& data, bool allowInline, LvalPage& l, std::vector<uint32_t>& pages, Bytes* out) {
    const size_t len = data.size();
    if (len >= (1u << 30)) throw JetError("valor longo demais");
    const size_t at = out->size();
    out->zeros(12);
    if (allowInline && len <= size_t(kInlineLongValue)) {
      put32(&(*out)[at], uint32_t(len) | 0x80000000u);
      out->append(data.data(), len);
      return;
    }
    if (len <= size_t(kLvalRowMax)) {
      // The new offset takes 2 bytes, and 4 stay free between the offsets and the rows.
      if (l.number == 0 || lvalFree(l, l.rows) - 2 - 4 < int(len) || l.rows == kMaxRowsPerPage) {
        flushLval(l);
        l.p.fill(0);
        l.p[0] = 0x01;
        l.p[1] = 0x01;
        std::memcpy(&l.p[4], "LVAL", 4);
        l.rows = 0;
        l.number = nextPage++;
      }
      const int end =
          l.rows == 0 ? kPage : (l.p[kDataHeader + 2 * (l.rows - 1)] | l.p[kDataHeader + 2 * (l.rows - 1) + 1] << 8);
      const int start = end - int(len);
      if (len) std::memcpy(&l.p[start], data.data(), len);
      put16(&l.p[kDataHeader + 2 * l.rows], uint32_t(start));
      put32(&(*out)[at], uint32_t(len) | 0x40000000u);
      put32(&(*out)[at + 4], l.number << 8 | uint32_t(l.rows));
      ++l.rows;
      noteLvPage(pages, l.number);
      return;
    }
    // A chain: every piece fills a page of its own from 0x14, pages taken in a row so each piece
    // knows the next one's address before it is written.
    const size_t pieces = (len + kLvalChunk - 1) / kLvalChunk;
    const uint32_t first = nextPage;
    nextPage += uint32_t(pieces);
    std::array<uint8_t, kPage> p{};
    for (size_t k = 0; k < pieces; ++k) {
      const size_t off = k * kLvalChunk;
      const int n = int(std::min<size_t>(kLvalChunk, len - off));
      p.fill(0);
      p[0] = 0x01;
      p[1] = 0x01;
      std::memcpy(&p[4], "LVAL", 4);
      const int start = kPage - n - 4;
      put16(&p[2], uint32_t(start - kDataHeader - 2));
      put16(&p[12], 1);
      put16(&p[kDataHeader], uint32_t(start));
      put32(&p[start], k + 1 < pieces ? (first + uint32_t(k) + 1) << 8 : 0);
      std::memcpy(&p[start + 4], data.data() + off, size_t(n));
      writePage(first + uint32_t(k), p.data());
      pages.push_back(first + uint32_t(k));
    }
    put32(&(*out)[at], uint32_t(len));
    put32(&(*out)[at + 4], first << 8);
  }

  [[noreturn]] static void refuse(const Table& t, const Col& c, const char* why) {
    throw JetError(QStringLiteral("%1.%2: %3").arg(t.name, c.def.name, QString::fromLatin1(why)).toStdString());
  }

  static bool asDecimal(const Value& v, Decimal* d) {
    if (auto i = std::get_if<qint64>(&v.variant())) {
      *d = Decimal{*i, 0};
      return true;
    }
    if (auto x = std::get_if<Decimal>(&v.variant())) {
      *d = *x;
      return true;
    }
    if (auto s = std::get_if<QString>(&v.variant())) {
      bool ok;
      *d = Decimal::parse(*s, &ok);
      return ok;
    }
    return false;
  }
  static bool asDouble(const Value& v, double* d) {
    if (auto x = std::get_if<double>(&v.variant())) return *d = *x, true;
    if (auto t = std::get_if<QString>(&v.variant())) {
      bool ok;
      *d = t->trimmed().toDouble(&ok);
      return ok;
    }
    if (auto i = std::get_if<qint64>(&v.variant())) return *d = double(*i), true;
    if (auto x = std::get_if<Decimal>(&v.variant())) return *d = x->toString().toDouble(), true;
    return false;
  }
  static bool asInt(const Value& v, qint64 lo, qint64 hi, qint64* out) {
    Decimal d;
    Int128 u;
    if (!asDecimal(v, &d) || !rescale(d, 0, &u) || u < lo || u > hi) return false;
    *out = qint64(u);
    return true;
  }

  // A Single or a Double column's value.
  static void encodeFloating(const Table& t, const Col& c, const Value& v, uint8_t* f) {
    double x;
    // Access keeps no infinities or NaN; a Single must round to a finite float. A value a
    // little past the largest float as decimal text ("3.4028235E38", how a FLOAT at its
    // limit is printed) rounds to that float, as the declaration holds it.
    if (!asDouble(v, &x) || !std::isfinite(x)) refuse(t, c, "número inválido");
    constexpr double kFloatMax = double(std::numeric_limits<float>::max());
    // Halfway between the largest float and 2^128: from here on a float rounds to infinity.
    constexpr double kSingleLimit = kFloatMax + 0x1p103;
    if (c.def.type == ColumnType::Single && std::fabs(x) >= kSingleLimit)
      refuse(t, c, "número fora da faixa de Single");
    if (c.def.type == ColumnType::Double) {
      putDouble(f, x);
    } else {
      const float fl =
          std::fabs(x) > kFloatMax ? std::copysign(std::numeric_limits<float>::max(), float(x > 0 ? 1 : -1)) : float(x);
      uint32_t u;
      std::memcpy(&u, &fl, 4);
      put32(f, u);
    }
  }

  // A fixed-size column's value into its place `f` in the fixed area; false for a Yes/No column
  // that is No (its value is its bit in the null mask).
  bool encodeFixed(const Table& t, const Col& c, const Value& v, uint8_t* f) {
    bool present = true;
    switch (c.def.type) {
      case ColumnType::Boolean: {
        qint64 b;
        if (!asInt(v, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), &b))
          refuse(t, c, "valor lógico inválido");
        present = b != 0;
        break;
      }
      case ColumnType::Byte:
      case ColumnType::Integer:
      case ColumnType::Long: {
        const qint64 lo = c.def.type == ColumnType::Byte ? 0 : c.def.type == ColumnType::Integer ? -32768 : INT32_MIN;
        const qint64 hi = c.def.type == ColumnType::Byte ? 255 : c.def.type == ColumnType::Integer ? 32767 : INT32_MAX;
        qint64 x;
        if (!asInt(v, lo, hi, &x)) refuse(t, c, "inteiro fora da faixa");
        for (int b = 0; b < c.size; ++b) f[b] = uint8_t(uint64_t(x) >> (8 * b));
        break;
      }
      case ColumnType::Currency: {
        // Currency: a 64-bit count of ten-thousandths.
        Decimal dec;
        Int128 u;
        double x;
        if (asDecimal(v, &dec)) {
          if (!rescale(dec, 4, &u) || u < INT64_MIN || u > INT64_MAX)
            refuse(t, c, "moeda fora da faixa ou com mais de 4 casas");
        } else if (asDouble(v, &x) && std::isfinite(x) && std::fabs(x) < 9.2e14) {
          u = Int128(std::llround(x * 10000));
        } else {
          refuse(t, c, "moeda inválida");
        }
        put64(f, uint64_t(int64_t(u)));
        break;
      }
      case ColumnType::Single:
      case ColumnType::Double: encodeFloating(t, c, v, f); break;
      case ColumnType::DateTime: {
        double x;
        if (auto dt = std::get_if<QDateTime>(&v.variant())) {
          if (!dt->isValid()) refuse(t, c, "data inválida");
          x = toJetDate(*dt);
        } else if (auto text = std::get_if<QString>(&v.variant())) {
          QDate day;
          QTime clock;
          if (!parseDateText(*text, &day, &clock)) refuse(t, c, "data inválida");
          x = toJetDate(day, clock);
        } else if (!asDouble(v, &x)) {
          refuse(t, c, "data inválida");
        }
        putDouble(f, x);
        break;
      }
      case ColumnType::Numeric: {
        // Numeric: sign byte (80 negative), then the 128-bit magnitude as four 32-bit
        // little-endian words, most significant word first.
        Decimal dec;
        Int128 u;
        if (!asDecimal(v, &dec) || !rescale(dec, c.def.scale, &u)) refuse(t, c, "decimal inválido ou com casas demais");
        UInt128 mag = u < 0 ? -static_cast<UInt128>(u) : static_cast<UInt128>(u);
        if (mag >= static_cast<UInt128>(pow10(c.def.precision))) refuse(t, c, "decimal com dígitos demais");
        f[0] = u < 0 ? 0x80 : 0x00;
        for (int w = 0; w < 4; ++w) put32(f + 1 + 4 * (3 - w), uint32_t(mag >> (32 * w)));
        break;
      }
      default: break;
    }
    return present;
  }

  // A variable column's value onto the variable area; long values go inline or to their pages.
  void encodeVariable(Table& t, const Col& c, const Value& v, int lvIndex, bool allowInline) {
    switch (c.def.type) {
      case ColumnType::Text: {
        auto s = std::get_if<QString>(&v.variant());
        if (!s) refuse(t, c, "texto esperado");
        if (s->size() > c.def.length) refuse(t, c, "texto mais longo que a coluna");
        encodeText(*s, c.compressed, &varArea);
        break;
      }
      case ColumnType::Binary: {
        auto b = std::get_if<QByteArray>(&v.variant());
        if (!b) refuse(t, c, "bytes esperados");
        if (b->size() > c.def.length) refuse(t, c, "bytes demais para a coluna");
        varArea.append(reinterpret_cast<const uint8_t*>(b->constData()), size_t(b->size()));
        break;
      }
      case ColumnType::Memo: {
        auto s = std::get_if<QString>(&v.variant());
        if (!s) refuse(t, c, "texto esperado");
        scratch.clear();
        encodeText(*s, c.compressed && s->size() <= kMemoCompressMax, &scratch);
        putLongValue(scratch, allowInline, lvals[size_t(lvIndex)], t.lvPages[size_t(lvIndex)], &varArea);
        break;
      }
      case ColumnType::Ole: {
        auto b = std::get_if<QByteArray>(&v.variant());
        if (!b) refuse(t, c, "bytes esperados");
        scratch.clear();
        scratch.append(reinterpret_cast<const uint8_t*>(b->constData()), size_t(b->size()));
        putLongValue(scratch, allowInline, lvals[size_t(lvIndex)], t.lvPages[size_t(lvIndex)], &varArea);
        break;
      }
      default: break;
    }
  }

  // Jet 4 row: column count, the fixed area (every fixed column, null or not), the variable
  // data, then backwards: end of data, the offsets of the variable columns in reverse, their
  // count, and the null mask (1 = present; a Yes/No column's value is its bit).
  void encodeRow(Table& t, std::span<const Value> values, bool allowInline) {
    const int n = int(t.cols.size());
    fixedArea.assign(size_t(t.fixedSize), 0);
    varArea.clear();
    std::vector<uint8_t> mask(size_t((n + 7) / 8), 0);
    std::vector<uint16_t> varOffsets;
    varOffsets.reserve(size_t(t.varCount));
    const int varStart = 2 + t.fixedSize;
    int lv = 0;
    for (int i = 0; i < n; ++i) {
      const Col& c = t.cols[size_t(i)];
      const Value& v = values[size_t(i)];
      if (!c.fixed) varOffsets.push_back(uint16_t(varStart + int(varArea.size())));
      const int lvIndex = c.longValue ? lv++ : -1;
      if (v.isNull()) continue;
      bool present = true;
      if (c.fixed) present = encodeFixed(t, c, v, fixedArea.data() + c.fixedOffset);
      else encodeVariable(t, c, v, lvIndex, allowInline);
      if (present) mask[size_t(i / 8)] |= uint8_t(1 << (i % 8));
    }
    row.clear();
    row.u16(uint32_t(n));
    row.append(fixedArea.data(), fixedArea.size());
    row.append(varArea.data(), varArea.size());
    if (t.varCount > 0) {
      row.u16(uint32_t(varStart + int(varArea.size())));
      for (int k = t.varCount - 1; k >= 0; --k) row.u16(varOffsets[size_t(k)]);
      row.u16(uint32_t(t.varCount));
    }
    row.append(mask.data(), mask.size());
  }

  int appendTo(Table& t, std::span<const Value> values) {
    if (values.size() != t.cols.size())
      throw JetError(QStringLiteral("%1: %2 valores para %3 colunas")
                         .arg(t.name)
                         .arg(values.size())
                         .arg(t.cols.size())
                         .toStdString());
    if (lvals.size() < t.lvPages.size()) lvals.resize(t.lvPages.size());
    encodeRow(t, values, true);
    // A row with many inline long values may not fit a page: store them on LVAL pages instead.
    constexpr size_t kDataRowMax = kPage - kDataHeader - 2;
    if (row.size() > kDataRowMax) encodeRow(t, values, false);
    if (row.size() > kDataRowMax)
      throw JetError(QStringLiteral("%1: linha maior que uma página").arg(t.name).toStdString());
    ++t.rows;
    return placeRow(t, row);
  }

  void closeTable() {
    if (tables.empty()) return;
    flushDataPage(tables.back());
    flushLvals();
  }

  Table makeTable(const QString& name, const std::vector<ColumnDef>& columns, bool system) {
    if (name.isEmpty() || name.size() > 64) throw JetError("nome de tabela inválido");
    Bytes probe;
    if (!nameKeyCodes(name, &probe))
      throw JetError(("nome de tabela com caractere não suportado: " + name).toStdString());
    for (const Table& t : tables)
      if (t.name.compare(name, Qt::CaseInsensitive) == 0) throw JetError(("tabela repetida: " + name).toStdString());
    if (columns.empty() || columns.size() > 255)
      throw JetError(("número de colunas inválido em " + name).toStdString());
    Table t;
    t.name = name;
    t.system = system;
    for (const ColumnDef& def : columns) {
      if (def.name.isEmpty() || def.name.size() > 64)
        throw JetError(("nome de coluna inválido em " + name).toStdString());
      for (const Col& o : t.cols)
        if (o.def.name.compare(def.name, Qt::CaseInsensitive) == 0)
          throw JetError(("coluna repetida: " + def.name).toStdString());
      Col c;
      c.def = def;
      // Column type codes of Jet.
      switch (def.type) {
        case ColumnType::Boolean: c.code = 0x01, c.fixed = true, c.size = 0; break;
        case ColumnType::Byte: c.code = 0x02, c.fixed = true, c.size = 1; break;
        case ColumnType::Integer: c.code = 0x03, c.fixed = true, c.size = 2; break;
        case ColumnType::Long: c.code = 0x04, c.fixed = true, c.size = 4; break;
        case ColumnType::Currency: c.code = 0x05, c.fixed = true, c.size = 8; break;
        case ColumnType::Single: c.code = 0x06, c.fixed = true, c.size = 4; break;
        case ColumnType::Double: c.code = 0x07, c.fixed = true, c.size = 8; break;
        case ColumnType::DateTime: c.code = 0x08, c.fixed = true, c.size = 8; break;
        case ColumnType::Binary: c.code = 0x09, c.size = def.length; break;
        case ColumnType::Text: c.code = 0x0A, c.size = 2 * def.length, c.compressed = !system; break;
        case ColumnType::Ole: c.code = 0x0B, c.longValue = true; break;
        case ColumnType::Memo: c.code = 0x0C, c.longValue = true, c.compressed = !system; break;
        case ColumnType::Numeric: c.code = 0x10, c.fixed = true, c.size = 17; break;
      }
      // The catalog's own byte columns (owners, SIDs) hold up to 510 bytes.
      const int maxLength = def.type == ColumnType::Binary && system ? 510 : 255;
      if ((def.type == ColumnType::Text || def.type == ColumnType::Binary) &&
          (def.length < 1 || def.length > maxLength))
        throw JetError(("tamanho inválido da coluna " + def.name).toStdString());
      if (def.type == ColumnType::Numeric &&
          (def.precision < 1 || def.precision > 28 || def.scale < 0 || def.scale > def.precision))
        throw JetError(("precisão inválida da coluna " + def.name).toStdString());
      if (c.fixed) {
        c.fixedOffset = t.fixedSize;
        t.fixedSize += c.size;
      } else {
        c.varIndex = t.varCount++;
      }
      if (c.longValue) t.lvPages.emplace_back();
      t.cols.push_back(c);
    }
    return t;
  }

  // ---- finishing: usage maps, table definitions, catalog, header ----

  std::vector<Bytes> mapRows;  // packed onto usage-map pages at the end

  // A usage map of the given pages: inline when they fit one small window, otherwise a list of
  // usage-map pages each covering a fixed stretch of the file.
  size_t addMap(std::vector<uint32_t> pages) {
    std::sort(pages.begin(), pages.end());
    Bytes r;
    const uint32_t start = pages.empty() ? 0 : pages.front() & ~7u;
    if (pages.empty() || pages.back() - start < uint32_t(kInlineMapBytes * 8)) {
      r.u8(0);
      r.u32(start);
      r.zeros(kInlineMapBytes);
      for (uint32_t p : pages) r[5 + (p - start) / 8] |= uint8_t(1 << ((p - start) % 8));
    } else {
      r.u8(1);
      r.zeros(4 * kMapPagesPerRow);
      size_t i = 0;
      while (i < pages.size()) {
        const uint32_t slot = pages[i] / kPagesPerMapPage;
        if (slot >= uint32_t(kMapPagesPerRow)) throw JetError("arquivo grande demais");
        std::array<uint8_t, kPage> p{};
        p[0] = 0x05;
        p[1] = 0x01;
        for (; i < pages.size() && pages[i] / kPagesPerMapPage == slot; ++i) {
          const uint32_t bit = pages[i] % kPagesPerMapPage;
          p[4 + bit / 8] |= uint8_t(1 << (bit % 8));
        }
        const uint32_t at = nextPage++;
        writePage(at, p.data());
        put32(&r[1 + 4 * slot], at);
      }
    }
    mapRows.push_back(r);
    return mapRows.size() - 1;
  }

  // Usage-map rows live on data pages that belong to no table.
  std::vector<uint32_t> writeMapRows() {
    std::vector<uint32_t> pointers;
    std::array<uint8_t, kPage> p{};
    int rows = 0, free = 0;
    uint32_t number = 0;
    auto flush = [&] {
      if (rows == 0) return;
      put16(&p[2], free);
      put16(&p[12], rows);
      writePage(number, p.data());
      rows = 0;
    };
    for (const Bytes& r : mapRows) {
      if (rows == 0 || int(r.size()) + 2 > free || rows == kMaxRowsPerPage) {
        flush();
        p.fill(0);
        p[0] = 0x01;
        p[1] = 0x01;
        free = kPage - kDataHeader;
        number = nextPage++;
      }
      const int end = rows == 0 ? kPage : (p[kDataHeader + 2 * (rows - 1)] | p[kDataHeader + 2 * (rows - 1) + 1] << 8);
      const int start = end - int(r.size());
      std::memcpy(&p[start], r.data(), r.size());
      put16(&p[kDataHeader + 2 * rows], start);
      free -= int(r.size()) + 2;
      pointers.push_back(number << 8 | uint32_t(rows));
      ++rows;
    }
    flush();
    return pointers;
  }

  // The column descriptors, then the column names.
  static void putColumns(Bytes& b, const Table& t) {
    for (size_t i = 0; i < t.cols.size(); ++i) {
      const Col& c = t.cols[i];
      b.u8(c.code);
      b.u32(kMagicTable);
      b.u16(uint32_t(i));
      b.u16(c.fixed ? 0 : uint32_t(c.varIndex));
      b.u16(uint32_t(i));
      if (c.def.type == ColumnType::Numeric) {
        b.u8(uint32_t(c.def.precision));
        b.u8(uint32_t(c.def.scale));
        b.u16(0);
      } else {
        // The "General" sort order, version 0: Jet writes it on every column, texts or not.
        b.u16(0x0409);
        b.u16(0);
      }
      // Flags: 01 fixed length, 02 always set by Jet, 10 on the system tables' columns.
      b.u8((c.fixed ? 0x03 : 0x02) | (t.system ? 0x10 : 0x00) | c.extraFlags);
      b.u8(c.compressed ? 0x01 : 0x00);
      b.u32(0);
      b.u16(c.fixed ? uint32_t(c.fixedOffset) : 0);
      b.u16(c.longValue ? 0 : uint32_t(c.def.type == ColumnType::Boolean ? 1 : c.size));
    }
    for (const Col& c : t.cols) {
      b.u16(uint32_t(2 * c.def.name.size()));
      b.ucs2(c.def.name);
    }
  }

  // The real indexes' details, then the logical indexes and their names.
  static void putIndexes(Bytes& b, const Table& t) {
    for (const IndexDef& ix : t.indexes) {
      b.u32(kMagicIndex);
      for (int k = 0; k < 10; ++k) {
        if (k < int(ix.columns.size())) {
          b.u16(uint32_t(ix.columns[size_t(k)]));
          b.u8(0x01);  // ascending
        } else {
          b.u16(0xFFFF);
          b.u8(0);
        }
      }
      // Usage map, root page, 4 unknown bytes, flags (01 unique), 5 unknown bytes: the layout
      // mdbtools 1.0 reads (older notes put the flags right after the root page).
      b.u32(ix.mapPointer);
      b.u32(ix.rootPage);
      b.u32(0);
      b.u8(ix.flags);
      b.zeros(5);
    }
    // Logical indexes, in the order of their names, each naming its real index.
    std::vector<size_t> logical(t.indexes.size());
    for (size_t i = 0; i < logical.size(); ++i) logical[i] = i;
    std::sort(logical.begin(), logical.end(),
              [&](size_t x, size_t y) { return t.indexes[x].name < t.indexes[y].name; });
    for (size_t i : logical) {
      const IndexDef& ix = t.indexes[i];
      b.u32(kMagicTable);
      b.u32(uint32_t(ix.number));
      b.u32(uint32_t(i));
      b.u8(0);
      b.u32(0xFFFFFFFF);  // not a foreign key
      b.u32(0);
      b.u8(4);  // what Jet writes in the two cascade bytes of an index that is no relation
      b.u8(4);
      b.u8(ix.primary ? 1 : 0);
      b.u32(0);
    }
    for (size_t i : logical) {
      b.u16(uint32_t(2 * t.indexes[i].name.size()));
      b.ucs2(t.indexes[i].name);
    }
  }

  // Table definition: header, real indexes, columns, column names, index details, index names,
  // and the usage maps of each long-value column, ended by FFFF. Longer than a page, it goes on
  // in further pages chained through the next-page field.
  Bytes tableDefinition(const Table& t, uint32_t owned, uint32_t freeMap,
                        const std::vector<std::pair<uint32_t, uint32_t>>& lvMaps) {
    Bytes b;
    b.u8(0x02);
    b.u8(0x01);
    b.u16(0);  // free space, per page
    b.u32(0);  // next page, per page
    b.u32(0);  // length, below
    b.u32(kMagicTable);
    b.u32(t.rows);
    b.u32(0);  // next autonumber
    b.u8(1);   // autonumber increment
    b.zeros(15);
    b.u8(t.system ? 0x53 : 0x4E);
    b.u16(uint32_t(t.cols.size()));
    b.u16(uint32_t(t.varCount));
    b.u16(uint32_t(t.cols.size()));
    b.u32(uint32_t(t.indexes.size()));
    b.u32(uint32_t(t.indexes.size()));
    b.u32(owned);
    b.u32(freeMap);
    for (size_t i = 0; i < t.indexes.size(); ++i) {
      b.u32(0);
      b.u32(t.rows);
      b.u32(0);
    }
    putColumns(b, t);
    putIndexes(b, t);
    int lv = 0;
    for (size_t i = 0; i < t.cols.size(); ++i) {
      if (!t.cols[i].longValue) continue;
      b.u16(uint32_t(i));
      b.u32(lvMaps[size_t(lv)].first);
      b.u32(lvMaps[size_t(lv)].second);
      ++lv;
    }
    b.u16(0xFFFF);
    put32(&b[8], uint32_t(b.size()));
    return b;
  }

  void writeTableDefinition(const Table& t, const Bytes& b) {
    std::array<uint8_t, kPage> p{};
    size_t off = 0;
    uint32_t number = t.tdefPage;
    bool first = true;
    while (true) {
      p.fill(0);
      size_t n;
      if (first) {
        n = std::min<size_t>(kPage, b.size());
        std::memcpy(p.data(), b.data(), n);
      } else {
        p[0] = 0x02;
        p[1] = 0x01;
        n = std::min<size_t>(kPage - 8, b.size() - off);
        std::memcpy(&p[8], b.data() + off, n);
      }
      off += n;
      const int used = first ? int(n) : int(n) + 8;
      // Free space of a definition page, less 8.
      put16(&p[2], uint32_t(std::max(0, kPage - used - 8)));
      const uint32_t next = off < b.size() ? nextPage++ : 0;
      put32(&p[4], next);
      writePage(number, p.data());
      if (!next) break;
      number = next;
      first = false;
    }
  }

  struct Entry {
    Bytes key;
    uint32_t pointer;
  };
  // One leaf page of an index: header, a bit mask marking where each entry ends (counted from
  // 0x1E0), then the entries: key bytes and the row's 3-byte page and 1-byte row, big-endian.
  uint32_t writeLeaf(uint32_t tdef, std::vector<Entry> entries) {
    for (Entry& e : entries) {
      e.key.u8(e.pointer >> 24);
      e.key.u8(e.pointer >> 16);
      e.key.u8(e.pointer >> 8);
      e.key.u8(e.pointer);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    constexpr int kMaskStart = 0x1B, kEntries = 0x1E0;
    std::array<uint8_t, kPage> p{};
    p[0] = 0x04;
    p[1] = 0x01;
    put32(&p[4], tdef);
    int pos = 0;
    for (const Entry& e : entries) {
      if (kEntries + pos + int(e.key.size()) > kPage) throw JetError("catálogo grande demais para o índice");
      std::memcpy(&p[kEntries + pos], e.key.data(), e.key.size());
      pos += int(e.key.size());
      p[kMaskStart + pos / 8] |= uint8_t(1 << (pos % 8));
    }
    put16(&p[2], kPage - kEntries - pos);
    const uint32_t n = nextPage++;
    writePage(n, p.data());
    return n;
  }

  void writeHeader() {
    std::array<uint8_t, kPage> p{};
    p[1] = 0x01;
    std::memcpy(&p[4], "Standard Jet DB", 15);
    put32(&p[0x14], 1);  // Jet 4
    // Fixed words at the start of the masked region, the same in every Jet 4 file.
    for (uint32_t i = 0; i < 6; ++i) put32(&p[0x18 + 4 * i], i == 0 ? 0x100 : i == 1 ? 0x101 : i);
    put16(&p[0x3C], 1252);
    put32(&p[0x3E], 0);  // no page encoding
    // The password as UCS-2, XOR the mask from the creation date; an empty password leaves
    // just the mask.
    const auto mask = passwordMask(created);
    for (int i = 0; i < kPasswordBytes; ++i) {
      const int ch = i / 2;
      const uint8_t byte = ch < options.password.size() ? uint8_t(options.password[ch].unicode() >> (8 * (i % 2))) : 0;
      p[kPasswordOffset + i] = byte ^ mask[size_t(i % 4)];
    }
    put32(&p[0x6A], kCarriedBuild);
    put16(&p[0x6E], 0x0409);  // default sort order: "General"
    putDouble(&p[kCreatedOffset], created);
    rc4(kHeaderKey, 4, &p[kHeaderMaskStart], kHeaderMaskLength);
    // After the masked region: a number and the engine's version text "4.0".
    put32(&p[0x98], 0x654);
    std::memcpy(&p[0x9C], "4.0", 4);
    // The page's last 512 bytes: 256 words, 0x0101 and then 0x0100.
    for (int i = 0; i < 256; ++i) put16(&p[0xE00 + 2 * i], i == 0 ? 0x0101 : 0x0100);
    writePage(0, p.data());
  }

  // What finish() writes after the last table, in its order.

  // The system tables the engine creates in an empty database, with Jet 4's columns in Jet 4's
  // order; their definitions sit on the pages reserved for them (2 to 5), which are their Ids.
  Table catalogTable() {
    using T = ColumnType;
    Table objects = makeTable(QStringLiteral("MSysObjects"),
                              {{"Id", T::Long},
                               {"ParentId", T::Long},
                               {"Name", T::Text, 255},
                               {"Type", T::Integer},
                               {"DateCreate", T::DateTime},
                               {"DateUpdate", T::DateTime},
                               {"Owner", T::Binary, 510},
                               {"Flags", T::Long},
                               {"Database", T::Memo},
                               {"Connect", T::Memo},
                               {"ForeignName", T::Text, 255},
                               {"RmtInfoShort", T::Binary, 510},
                               {"RmtInfoLong", T::Ole},
                               {"Lv", T::Ole},
                               {"LvProp", T::Ole},
                               {"LvModule", T::Ole},
                               {"LvExtra", T::Ole}},
                              true);
    objects.cols[6].extraFlags = 0x20;  // as Jet marks the SID columns
    objects.tdefPage = 2;
    return objects;
  }

  // The other three, on the pages after the catalog's.
  std::vector<Table> systemTables() {
    using T = ColumnType;
    std::vector<Table> system;
    system.push_back(makeTable(
        QStringLiteral("MSysACEs"),
        {{"ObjectId", T::Long}, {"SID", T::Binary, 510}, {"ACM", T::Long}, {"FInheritable", T::Boolean}}, true));
    system.back().cols[1].extraFlags = 0x20;
    system.push_back(makeTable(QStringLiteral("MSysQueries"),
                               {{"ObjectId", T::Long},
                                {"Attribute", T::Byte},
                                {"Order", T::Binary, 510},
                                {"Name1", T::Text, 255},
                                {"Name2", T::Text, 255},
                                {"Expression", T::Memo},
                                {"Flag", T::Integer},
                                {"LvExtra", T::Long}},
                               true));
    system.push_back(makeTable(QStringLiteral("MSysRelationships"),
                               {{"szRelationship", T::Text, 255},
                                {"grbit", T::Long},
                                {"ccolumn", T::Long},
                                {"icolumn", T::Long},
                                {"szObject", T::Text, 255},
                                {"szColumn", T::Text, 255},
                                {"szReferencedObject", T::Text, 255},
                                {"szReferencedColumn", T::Text, 255}},
                               true));
    for (size_t i = 0; i < system.size(); ++i) system[i].tdefPage = uint32_t(3 + i);
    return system;
  }

  // Catalog rows: the containers, the database object, the system tables, then every table
  // under "Tables". The engine's own objects belong to its account, the database object and the
  // user's tables to the creator.
  void writeCatalog(Table& objects, const std::vector<Table>& system) {
    const double dbCreated = created;
    const QDateTime tablesCreated = options.created;
    struct Obj {
      int32_t id, parent;
      QString name;
      int type;
      uint32_t flags;
      uint16_t ownerXor;
      bool user;
    };
    std::vector<Obj> objs = {{kTablesId, kRootParent, "Tables", 3, kSystemFlags, kEngineSidXor, false},
                             {kDatabasesId, kRootParent, "Databases", 3, kSystemFlags, kEngineSidXor, false},
                             {kRelationshipsId, kRootParent, "Relationships", 3, kSystemFlags, kEngineSidXor, false},
                             {kMsysDbId, kDatabasesId, "MSysDb", 2, kSystemFlags, 0, false},
                             {2, kTablesId, "MSysObjects", 1, kSystemFlags, kEngineSidXor, false}};
    for (const Table& t : system)
      objs.push_back({int32_t(t.tdefPage), kTablesId, t.name, 1, kSystemFlags, kEngineSidXor, false});
    for (const Table& t : tables) objs.push_back({int32_t(t.tdefPage), kTablesId, t.name, 1, 0, 0, true});
    std::vector<Impl::Entry> byId, byParentName;
    startDataPage(objects.tdefPage);
    std::vector<std::pair<size_t, int>> placed;  // catalog row -> (data page index, row)
    for (const Obj& o : objs) {
      const Value when = o.user ? Value(tablesCreated) : Value(dbCreated);
      const std::vector<Value> v = {Value(qint64(o.id)),
                                    Value(qint64(o.parent)),
                                    Value(o.name),
                                    Value(qint64(o.type)),
                                    when,
                                    when,
                                    Value(sid(o.ownerXor)),
                                    Value(qint64(int32_t(o.flags))),
                                    {},
                                    {},
                                    {},
                                    {},
                                    {},
                                    {},
                                    {},
                                    {},
                                    {}};
      const int r = appendTo(objects, v);
      // The row sits on the page being filled, which becomes the next entry of dataPages.
      placed.push_back({objects.dataPages.size(), r});
    }
    flushDataPage(objects);
    flushLvals();
    for (size_t i = 0; i < objs.size(); ++i) {
      const uint32_t ptr = objects.dataPages[placed[i].first] << 8 | uint32_t(placed[i].second);
      Impl::Entry a;
      intKey(objs[i].id, &a.key);
      a.pointer = ptr;
      byId.push_back(a);
      Impl::Entry b;
      intKey(objs[i].parent, &b.key);
      b.key.u8(0x7F);
      nameKeyCodes(objs[i].name, &b.key);
      b.pointer = ptr;
      byParentName.push_back(b);
    }
    // The catalog's indexes, through which strict readers find the tables: 80 marks a Jet 4
    // index, 01 a unique one, 02 one that skips nulls, 08 one that allows repeated keys.
    const uint32_t nameLeaf = writeLeaf(objects.tdefPage, byParentName);
    const uint32_t idLeaf = writeLeaf(objects.tdefPage, byId);
    objects.indexes = {{"ParentIdName", {1, 2}, nameLeaf, 0, 0x81, 0, false}, {"Id", {0}, idLeaf, 0, 0x81, 1, true}};
  }

  // Permissions as the engine grants them in a new database: its own objects readable by the
  // creator and the Users group, the containers passing full rights on to what they hold, and
  // each user table fully open to the creator and to Users.
  // The empty system tables get one empty leaf per index.
  void writePermissions(std::vector<Table>& system) {
    struct Ace {
      int32_t object;
      uint16_t sidXor;
      uint32_t acm;
      bool inheritable;
    };
    std::vector<Ace> aceRows = {{2, 0, 0x60000, false},
                                {3, 0, 0x60000, false},
                                {4, 0, 0x60000, false},
                                {5, 0, 0xE0000, false},
                                {kTablesId, kAdminsSidXor, 0xF00FE, true},
                                {kTablesId, 0, 0x60001, false},
                                {kRelationshipsId, kAdminsSidXor, 0xF00FE, true},
                                {kRelationshipsId, 0, 0x60001, false},
                                {kDatabasesId, 0, 0x60000, false},
                                {kMsysDbId, 0, 0x6000E, false},
                                {kMsysDbId, kUsersSidXor, 0xE, false},
                                {4, kUsersSidXor, 0x14, false},
                                {5, kUsersSidXor, 0x14, false},
                                {2, kUsersSidXor, 0x14, false},
                                {kTablesId, kUsersSidXor, 0xFFEFF, true},
                                {kRelationshipsId, kUsersSidXor, 0xFFFFF, true}};
    for (const Table& t : tables) {
      aceRows.push_back({int32_t(t.tdefPage), 0, 0xFFEFF, false});
      aceRows.push_back({int32_t(t.tdefPage), kUsersSidXor, 0xFFEFF, false});
    }
    Table& aces = system[0];
    startDataPage(aces.tdefPage);
    std::vector<std::pair<size_t, int>> acePlaced;
    for (const Ace& a : aceRows) {
      const std::vector<Value> v = {Value(qint64(a.object)), Value(sid(a.sidXor)), Value(qint64(a.acm)),
                                    Value(qint64(a.inheritable))};
      const int r = appendTo(aces, v);
      acePlaced.push_back({aces.dataPages.size(), r});
    }
    flushDataPage(aces);
    std::vector<Impl::Entry> byObject;
    for (size_t i = 0; i < aceRows.size(); ++i) {
      Impl::Entry e;
      intKey(aceRows[i].object, &e.key);
      e.pointer = aces.dataPages[acePlaced[i].first] << 8 | uint32_t(acePlaced[i].second);
      byObject.push_back(e);
    }
    aces.indexes = {{"ObjectId", {0}, writeLeaf(aces.tdefPage, byObject), 0, 0x88, 0, false}};
    // The empty tables' indexes: one empty leaf each.
    Table& queries = system[1];
    queries.indexes = {{"ObjectIdAttribute", {0, 1, 2}, writeLeaf(queries.tdefPage, {}), 0, 0x81, 0, true}};
    Table& relations = system[2];
    for (const auto& [name, column] : {std::pair{"szRelationship", 0}, {"szObject", 4}, {"szReferencedObject", 6}})
      relations.indexes.push_back(
          {name, {column}, writeLeaf(relations.tdefPage, {}), 0, 0x82, int(relations.indexes.size()), false});
  }

  // Usage maps: pages each table owns (none has free space to offer), each long-value column's
  // pages, each index's pages.
  void writeUsageMaps(const std::vector<Table*>& all) {
    struct Maps {
      size_t owned, free;
      std::vector<std::pair<size_t, size_t>> lv;
    };
    std::vector<Maps> maps;
    for (Table* t : all) {
      Maps m;
      m.owned = addMap(t->dataPages);
      m.free = addMap({});
      for (const auto& pages : t->lvPages) m.lv.push_back({addMap(pages), addMap({})});
      maps.push_back(m);
    }
    std::vector<size_t> indexMaps;
    for (Table* t : all)
      for (const IndexDef& ix : t->indexes) indexMaps.push_back(addMap({ix.rootPage}));
    const std::vector<uint32_t> ptr = writeMapRows();
    size_t k = 0;
    for (Table* t : all)
      for (IndexDef& ix : t->indexes) ix.mapPointer = ptr[indexMaps[k++]];
    for (size_t i = 0; i < all.size(); ++i) {
      std::vector<std::pair<uint32_t, uint32_t>> lv;
      for (const auto& [o, f] : maps[i].lv) lv.push_back({ptr[o], ptr[f]});
      writeTableDefinition(*all[i], tableDefinition(*all[i], ptr[maps[i].owned], ptr[maps[i].free], lv));
    }
  }

  // Page 1: the global map of free pages, as two inline maps of the first 512 pages. Our pages
  // are all in use; the bits past the end of the file mark pages still to be had.
  void writeGlobalMap() {
    std::array<uint8_t, kPage> p{};
    p[0] = 0x01;
    p[1] = 0x01;
    put32(&p[4], 1);
    constexpr int kMapRow = 1 + 4 + kInlineMapBytes;
    for (int r = 0; r < 2; ++r) {
      const int start = kPage - kMapRow * (r + 1);
      put16(&p[kDataHeader + 2 * r], uint32_t(start));
      if (r == 0)
        for (uint32_t n = nextPage; n < uint32_t(kInlineMapBytes * 8); ++n)
          p[size_t(start + 5) + n / 8] |= uint8_t(1 << (n % 8));
    }
    put16(&p[2], uint32_t(kPage - kDataHeader - 2 * (kMapRow + 2)));
    put16(&p[12], 2);
    writePage(1, p.data());
  }
};

// ---------------------------------------------------------------------------------------------

JetWriter::JetWriter(const QString& path, const WriterOptions& options) : d(new Impl) {
  d->options = options;
  if (options.password.size() > 20) throw JetError("senha com mais de 20 caracteres");
  d->created = carriedCreated();
  // A new file of the user's alone: a link planted at its name is replaced, never followed.
  const int fd = PrivateFile::create(path);
  if (fd < 0)
    throw JetWriteError(
        ("não foi possível criar " + path + ": " + QString::fromLocal8Bit(strerror(errno))).toStdString());
  if (!d->file.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    throw JetWriteError(("não foi possível criar " + path + ": " + d->file.errorString()).toStdString());
  }
}

JetWriter::~JetWriter() = default;

void JetWriter::addTable(const QString& name, const std::vector<ColumnDef>& columns) {
  if (d->finished) throw JetError("arquivo já terminado");
  if (name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive))
    throw JetError("nome reservado: " + name.toStdString());
  d->closeTable();
  Table t = d->makeTable(name, columns, false);
  // The definition's first page is reserved now: every data page names it.
  t.tdefPage = d->nextPage++;
  d->tables.push_back(std::move(t));
  d->startDataPage(d->tables.back().tdefPage);
}

void JetWriter::appendRow(std::span<const Value> values) {
  if (d->finished || d->tables.empty()) throw JetError("nenhuma tabela aberta");
  d->appendTo(d->tables.back(), values);
}

void JetWriter::finish() {
  if (d->finished) return;
  Impl& w = *d;
  w.closeTable();
  w.finished = true;
  Table objects = w.catalogTable();
  std::vector<Table> system = w.systemTables();
  w.writeCatalog(objects, system);
  w.writePermissions(system);
  std::vector<Table*> all{&objects};
  for (Table& t : system) all.push_back(&t);
  for (Table& t : w.tables) all.push_back(&t);
  w.writeUsageMaps(all);
  w.writeGlobalMap();
  w.writeHeader();
  if (!w.file.flush()) throw JetWriteError("gravação falhou: " + w.file.errorString().toStdString());
  w.file.close();
}

// ---------------------------------------------------------------------------------------------

QString readPassword(const QByteArray& headerPage) {
  if (headerPage.size() < kHeaderMaskStart + kHeaderMaskLength) return {};
  QByteArray h = headerPage.left(kHeaderMaskStart + kHeaderMaskLength);
  auto* b = reinterpret_cast<uint8_t*>(h.data());
  rc4(kHeaderKey, 4, b + kHeaderMaskStart, kHeaderMaskLength);
  double created;
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= uint64_t(b[kCreatedOffset + i]) << (8 * i);
  std::memcpy(&created, &u, 8);
  if (!std::isfinite(created) || std::fabs(created) > 3e6) return {};
  const auto mask = passwordMask(created);
  QString pw;
  for (int i = 0; i + 1 < kPasswordBytes; i += 2) {
    const char16_t c = char16_t((b[kPasswordOffset + i] ^ mask[size_t(i % 4)]) |
                                (b[kPasswordOffset + i + 1] ^ mask[size_t((i + 1) % 4)]) << 8);
    if (c == 0) break;
    pw += QChar(c);
  }
  return pw;
}

}  // namespace jet
