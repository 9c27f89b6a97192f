#include "odsconvert.h"

#include <QFile>
#include <cctype>
#include <cstring>
#include <vector>

#include "odstraits.h"

namespace {

uint16_t g16(const QByteArray& d, qsizetype at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8);
}
uint32_t g32(const QByteArray& d, qsizetype at) { return g16(d, at) | static_cast<uint32_t>(g16(d, at + 2)) << 16; }
void s16(QByteArray& d, qsizetype at, unsigned v) {
  d[at] = static_cast<char>(v & 0xFF);
  d[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void s32(QByteArray& d, qsizetype at, uint32_t v) {
  s16(d, at, v & 0xFFFF);
  s16(d, at + 2, v >> 16);
}

// The engine's record compression: control byte n > 0 = n literal bytes, n < 0 = the next
// byte -n times (runs of 3 or more); with longRuns (ODS 13) runs over 127 are -1, a 2-byte
// count and the byte.
std::vector<uint8_t> pack(const std::vector<uint8_t>& in, bool longRuns) {
  std::vector<uint8_t> out;
  size_t i = 0;
  std::vector<uint8_t> literal;
  auto flush = [&] {
    for (size_t k = 0; k < literal.size(); k += 127) {
      const size_t n = std::min<size_t>(127, literal.size() - k);
      out.push_back(static_cast<uint8_t>(n));
      out.insert(out.end(), literal.begin() + static_cast<long>(k), literal.begin() + static_cast<long>(k + n));
    }
    literal.clear();
  };
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      flush();
      if (longRuns && run > 128) {
        const size_t n = std::min<size_t>(run, 65535);
        out.push_back(static_cast<uint8_t>(-1));
        out.push_back(static_cast<uint8_t>(n & 0xFF));
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(in[i]);
        i += n;
      } else {
        const size_t n = std::min<size_t>(run, 128);
        out.push_back(static_cast<uint8_t>(-static_cast<int>(n)));
        out.push_back(in[i]);
        i += n;
      }
    } else {
      literal.insert(literal.end(), in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i + run));
      i += run;
    }
  }
  flush();
  return out;
}

bool unpack(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < n;) {
    const int c = static_cast<int8_t>(p[i++]);
    if (c >= 0) {
      if (i + static_cast<size_t>(c) > n) return false;
      out.insert(out.end(), p + i, p + i + c);
      i += static_cast<size_t>(c);
    } else {
      if (i >= n) return false;
      out.insert(out.end(), static_cast<size_t>(-c), p[i++]);
    }
  }
  return true;
}

struct Page {
  QByteArray& file;
  qsizetype base;
  unsigned size;
  uint8_t type() const { return static_cast<uint8_t>(file[base]); }
  unsigned u16(unsigned at) const { return g16(file, base + at); }
  uint32_t u32(unsigned at) const { return g32(file, base + at); }
};

// Moves a system record from the ODS 12 layout to the target's: same field ids, names padded
// or cut to the new width, fields the target lacks dropped, new ones NULL.
std::vector<uint8_t> relayout(const std::vector<uint8_t>& image, const ods::SystemLayout& from,
                              const ods::SystemLayout& to) {
  const unsigned n = static_cast<unsigned>(to.fields.size());
  const unsigned size = to.fields.back().offset + to.fields.back().length;
  std::vector<uint8_t> out(size, 0);
  for (unsigned id = 0; id < n; ++id) {
    const bool present = id < from.fields.size() && id / 8 < image.size() && !(image[id / 8] & (1u << (id % 8))) &&
                         from.fields[id].offset + from.fields[id].length <= image.size();
    const ods::FieldDesc& t = to.fields[id];
    if (!present) {
      out[id / 8] |= static_cast<uint8_t>(1u << (id % 8));
      continue;
    }
    const ods::FieldDesc& f = from.fields[id];
    if (t.dtype == ods::kText) {
      std::memset(out.data() + t.offset, ' ', t.length);
      std::memcpy(out.data() + t.offset, image.data() + f.offset, std::min(f.length, t.length));
    } else {
      std::memcpy(out.data() + t.offset, image.data() + f.offset, std::min(f.length, t.length));
    }
  }
  return out;
}

// Puts a new record body (after its header) into a slot: in place when it fits, else in the
// page's free space between the slot array and the lowest record.
bool replaceRecord(Page& pg, unsigned line, const QByteArray& header, const std::vector<uint8_t>& body) {
  const unsigned count = pg.u16(22);
  const unsigned off = pg.u16(24 + 4 * line), len = pg.u16(24 + 4 * line + 2);
  const unsigned need = static_cast<unsigned>(header.size() + body.size());
  unsigned at = off;
  if (need > len) {
    unsigned lowest = pg.size;
    for (unsigned i = 0; i < count; ++i)
      if (pg.u16(24 + 4 * i + 2)) lowest = std::min(lowest, pg.u16(24 + 4 * i));
    if (lowest < need || (lowest - need) / 8 * 8 < 24 + 4 * count) return false;
    at = (lowest - need) / 8 * 8;
  }
  std::memcpy(pg.file.data() + pg.base + at, header.constData(), static_cast<size_t>(header.size()));
  std::memcpy(pg.file.data() + pg.base + at + header.size(), body.data(), body.size());
  s16(pg.file, pg.base + 24 + 4 * line, at);
  s16(pg.file, pg.base + 24 + 4 * line + 2, need);
  return true;
}

// A new data page holding one record, appended to the file and to the relation's last
// pointer page.
bool moveToNewPage(QByteArray& file, unsigned ps, unsigned rel, const QByteArray& header,
                   const std::vector<uint8_t>& body) {
  const qsizetype pages = file.size() / ps;
  qsizetype last = 0;
  for (qsizetype n = 1; n < pages; ++n)
    if (static_cast<uint8_t>(file[n * ps]) == 4 && g16(file, n * ps + 26) == rel &&
        (!last || g32(file, n * ps + 16) > g32(file, last * ps + 16)))
      last = n;
  if (!last) return false;
  const qsizetype pp = last * ps;
  const unsigned slot = g16(file, pp + 24);
  if (32 + 4 * (slot + 1) > ps / 2) return false;
  const unsigned need = static_cast<unsigned>(header.size() + body.size());
  QByteArray page(ps, '\0');
  page[0] = 5;
  s32(page, 12, static_cast<uint32_t>(pages));
  s32(page, 16, slot);
  s16(page, 20, rel);
  s16(page, 22, 1);
  const unsigned at = (ps - need) / 8 * 8;
  s16(page, 24, at);
  s16(page, 26, need);
  std::memcpy(page.data() + at, header.constData(), static_cast<size_t>(header.size()));
  std::memcpy(page.data() + at + header.size(), body.data(), body.size());
  file.append(page);
  s32(file, pp + 32 + 4 * slot, static_cast<uint32_t>(pages));
  s16(file, pp + 24, slot + 1);
  return true;
}

}  // namespace

bool convertOds(const QString& source, const QString& target, int major, int minor, QString* why) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return *why = "não abre " + source, false;
  QByteArray file = in.readAll();
  const unsigned ps = g16(file, 16);
  if ((g16(file, 18) & 0x7FFF) != 12) return *why = "a origem não é ODS 12", false;
  const ods::OdsTraits* from = ods::traitsFor(12, 0);
  const ods::OdsTraits* to = ods::traitsFor(major, minor);
  if (!to) return *why = "versão desconhecida", false;
  const qsizetype pages = file.size() / ps;
  const unsigned maxRecords = (ps - 28) / 17;

  // Header: version word (InterBase 6 wrote ODS 10 without the Firebird bit), the minor where
  // the version keeps it, and the dialect flag's old bit.
  s16(file, 18, major == 10 ? 10u : (0x8000u | static_cast<unsigned>(major)));
  const bool dialect3 = g16(file, 42) & 0x10;
  if (major < 12) {
    s16(file, 42, (g16(file, 42) & ~0x10u) | (dialect3 ? 0x100u : 0));
    s16(file, 60, 0x18);  // hdr_implementation
    s16(file, 62, static_cast<unsigned>(minor));
    s16(file, 64, static_cast<unsigned>(minor));
  } else {
    s16(file, 64, static_cast<unsigned>(minor));
  }

  auto layoutOf = [](const ods::OdsTraits* t, unsigned rel) -> const ods::SystemLayout* {
    switch (rel) {
      case 2: return &t->fields;
      case 5: return &t->relationFields;
      case 6: return &t->relations;
      case 8: return &t->formats;
      case 28: return &t->characterSets;
      default: return nullptr;
    }
  };

  std::vector<std::pair<uint32_t, unsigned>> formatBlobs;  // RDB$FORMATS descriptor blob numbers
  for (qsizetype n = 1; n < pages; ++n) {
    Page pg{file, n * ps, ps};
    if (pg.type() == 4 && major < 12) {
      // Older pointer pages keep 2 bits per slot after a longer vector; clear what ODS 12 left there.
      const unsigned count = pg.u16(24);
      std::memset(file.data() + pg.base + 32 + 4 * count, 0, ps - 32 - 4 * count);
      continue;
    }
    if (pg.type() != 5) continue;
    const unsigned rel = pg.u16(20), count = pg.u16(22);
    const ods::SystemLayout* lf = layoutOf(from, rel);
    const ods::SystemLayout* lt = layoutOf(to, rel);
    const bool user = rel >= 128;
    if (!lf && !(user && major >= 13)) continue;
    for (unsigned line = 0; line < count; ++line) {
      const unsigned off = pg.u16(24 + 4 * line), len = pg.u16(24 + 4 * line + 2);
      if (!len) continue;
      const unsigned flags = g16(file, pg.base + off + 10);
      // Blobs, fragments and differences stay as they are.
      if (flags & (0x4 | 0x8 | 0x10)) continue;
      if ((flags & 0x2) && (flags & 0x20)) continue;
      if (flags & 0x1) continue;
      if (flags & 0x400) return *why = "registro com transação longa", false;
      std::vector<uint8_t> image;
      const auto* raw = reinterpret_cast<const uint8_t*>(file.constData() + pg.base + off);
      if (!unpack(raw + 13, len - 13, image)) return *why = QString("página %1: registro ilegível").arg(n), false;
      if (lf) {
        if (rel == 8) {
          const ods::FieldDesc& d = lf->fields[2];
          if (!(image[0] & 4) && d.offset + 8 <= image.size()) {
            uint32_t number;
            std::memcpy(&number, image.data() + d.offset + 4, 4);
            formatBlobs.emplace_back(number, 0);
          }
        }
        image = relayout(image, *lf, *lt);
      }
      const QByteArray header(reinterpret_cast<const char*>(raw), 13);
      const std::vector<uint8_t> body = pack(image, to->longRuns);
      if (!replaceRecord(pg, line, header, body)) {
        // Wider names need more room than the page has: the record moves to a page of its own
        // at the end of the file, listed on the relation's pointer page.
        if (!moveToNewPage(file, ps, rel, header, body))
          return *why = QString("página %1: sem espaço para o registro da linha %2").arg(n).arg(line), false;
        s16(file, pg.base + 24 + 4 * line, 0);
        s16(file, pg.base + 24 + 4 * line + 2, 0);
      }
    }
  }

  // Before ODS 12 a format description is only the descriptors: no count, no defaults.
  if (!to->formatCountPrefix) {
    // RDB$FORMATS' pointer pages, to find the blob headers by record number.
    std::vector<uint32_t> pps;
    for (qsizetype n = 1; n < pages; ++n)
      if (static_cast<uint8_t>(file[n * ps]) == 4 && g16(file, n * ps + 26) == 8)
        pps.push_back(static_cast<uint32_t>(n));
    if (pps.size() != 1) return *why = "RDB$FORMATS com mais de uma página de ponteiros", false;
    for (auto [number, unused] : formatBlobs) {
      const unsigned seq = number / maxRecords, line = number % maxRecords;
      Page pp{file, static_cast<qsizetype>(pps[0]) * ps, ps};
      const uint32_t dp = pp.u32(32 + 4 * seq);
      Page pg{file, static_cast<qsizetype>(dp) * ps, ps};
      const unsigned off = pg.u16(24 + 4 * line), len = pg.u16(24 + 4 * line + 2);
      const qsizetype b = pg.base + off;
      if (!(g16(file, b + 10) & 0x10) || file[b + 12] != 0) return *why = "descrição de formato fora do nível 0", false;
      // Segmented level-0 blob: one segment (2-byte length) holding count + descriptors + defaults.
      const unsigned seg = g16(file, b + 28);
      if (seg + 30 > len) return *why = "descrição de formato inesperada", false;
      const unsigned fields = g16(file, b + 30);
      const unsigned bytes = fields * 12;
      QByteArray descs = file.mid(b + 32, bytes);
      std::memcpy(file.data() + b + 30, descs.constData(), bytes);
      s16(file, b + 28, bytes);
      s16(file, b + 8, bytes);   // longest segment
      s32(file, b + 20, bytes);  // total length
      s16(file, pg.base + 24 + 4 * line + 2, 30 + bytes);
    }
  }

  QFile out(target);
  if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) return *why = "não grava " + target, false;
  return true;
}

bool damageOds(QByteArray& file, const QString& kind, QString* why) {
  const unsigned ps = g16(file, 16);
  const qsizetype pages = file.size() / ps;
  auto firstDataPage = [&](unsigned rel) -> qsizetype {
    for (qsizetype n = 1; n < pages; ++n)
      if (static_cast<uint8_t>(file[n * ps]) == 4 && g16(file, n * ps + 26) == rel && g16(file, n * ps + 24) > 0)
        return g32(file, n * ps + 32);
    return 0;
  };
  if (kind == "truncate") {
    file.truncate(20 * ps);
    return true;
  }
  if (kind == "version") {
    s16(file, 18, 0x8009);
    return true;
  }
  if (kind == "ppcycle") {
    const uint32_t first = g32(file, 20);
    s32(file, static_cast<qsizetype>(first) * ps + 20, first);
    return true;
  }
  if (kind == "pagetype" || kind == "slot") {
    const qsizetype dp = firstDataPage(128);
    if (!dp) return *why = "sem páginas de dados", false;
    if (kind == "pagetype") file[dp * ps] = 7;
    else {
      s16(file, dp * ps + 24, ps - 2);
      s16(file, dp * ps + 26, 100);
    }
    return true;
  }
  if (kind == "charlength") {
    // Every column domain the engine named itself (RDB$<number>) with a character length gets -1.
    const ods::SystemLayout& l = ods::traitsFor(12, 0)->fields;
    const ods::FieldDesc& name = l.fields[ods::sysf::kFieldName];
    const ods::FieldDesc& chars = l.fields[ods::sysf::kCharLength];
    bool changed = false;
    for (qsizetype n = 1; n < pages; ++n) {
      Page pg{file, n * ps, ps};
      if (pg.type() != 5 || pg.u16(20) != 2) continue;
      for (unsigned line = 0; line < pg.u16(22); ++line) {
        const unsigned off = pg.u16(24 + 4 * line), len = pg.u16(26 + 4 * line);
        if (len < 13 || (g16(file, pg.base + off + 10) & 0x3F)) continue;
        std::vector<uint8_t> image;
        if (!unpack(reinterpret_cast<const uint8_t*>(file.constData() + pg.base + off + 13), len - 13, image) ||
            image.size() < chars.offset + 2 ||
            (image[ods::sysf::kCharLength / 8] & (1u << (ods::sysf::kCharLength % 8))))
          continue;
        if (std::memcmp(image.data() + name.offset, "RDB$", 4) != 0 || !std::isdigit(image[name.offset + 4])) continue;
        image[chars.offset] = 0xFF;
        image[chars.offset + 1] = 0xFF;
        const QByteArray header = file.mid(pg.base + off, 13);
        if (replaceRecord(pg, line, header, pack(image, false))) changed = true;
      }
    }
    return changed || (*why = "nenhum domínio com comprimento em caracteres", false);
  }
  for (qsizetype n = 1; n < pages; ++n) {
    if (static_cast<uint8_t>(file[n * ps]) != 5 || g16(file, n * ps + 20) < 128) continue;
    const unsigned count = g16(file, n * ps + 22);
    for (unsigned line = 0; line < count; ++line) {
      const unsigned off = g16(file, n * ps + 24 + 4 * line), len = g16(file, n * ps + 26 + 4 * line);
      if (!len) continue;
      const qsizetype r = n * ps + off;
      const unsigned flags = g16(file, r + 10);
      if (kind == "fragcycle" && (flags & 0x8) && !(flags & 0x6)) {
        s32(file, r + 16, static_cast<uint32_t>(n));
        s16(file, r + 20, line);
        return true;
      }
      if (kind == "blobloop" && (flags & 0x10) && file[r + 12] == 2) {
        // The first page of page numbers lists its first blob page over and over.
        const qsizetype p = static_cast<qsizetype>(g32(file, r + 28)) * ps;
        const unsigned length = g16(file, p + 24);
        for (unsigned i = 4; i + 4 <= length; i += 4) s32(file, p + 28 + i, g32(file, p + 28));
        return true;
      }
      if (kind == "blobpage" && (flags & 0x10) && file[r + 12] == 1) {
        s32(file, r + 28, 0xFFFFFF00u);
        return true;
      }
    }
  }
  return *why = "nada a danificar para " + kind, false;
}
