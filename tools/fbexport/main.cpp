// fbexport: writes every row of one table of a Firebird declaration file as SQL INSERT statements.
//
//   fbexport -D file.gdb -U user -P password -Si -V TABLE -F output.txt
//
// One statement per line with an explicit column list, lines ended by CR LF, text in
// Windows-1252. Strings are quoted with apostrophes doubled, NULL is NULL, numbers are written as
// they are, dates and timestamps as 'dd/MM/yyyy HH:mm:ss'. Line breaks inside a text value are
// written as char(13)/char(10) joined with ||, so one row never spans two lines.
// Exit status: 0 done, 1 bad command line, 2 the file, the login or the table failed, 3 the output
// file could not be written. The reason goes to standard error.
//
// Files of the engine's own on-disk version (ODS 12) are read through the embedded engine; older
// and newer ones (ODS 10, 11, 13) through our own reader (ods/), which also takes over when the
// engine refuses the version. "--leitor proprio" or "--leitor motor" forces one of them.
// "-Ss" writes the table's structure instead of its rows, the same from both readers; with "-Si",
// "-E file" writes it as well, into that file, in the same run (one start of the engine, not two).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <firebird/Interface.h>

#include "fbenv.h"
#include "odsreader.h"

using namespace Firebird;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZIDE_ASAN_CLANG 1
#endif
#endif
#ifndef ZIDE_ASAN_CLANG
#define ZIDE_ASAN_CLANG 0
#endif

namespace {

struct Args {
  std::string database;
  std::string user = "SYSDBA";
  std::string password;
  std::string table;
  std::string output;
  std::string structureOutput;  // -E
  std::string copies;           // --copias: where private copies of the declaration go
  bool inserts = false;
  bool structure = false;
  unsigned long long outputLimit = 0;  // --limite-saida; 0: from the file's size
  enum class Reader { Automatic, Engine, Own } reader = Reader::Automatic;
};

std::string g_copy;      // a private copy of the declaration, removed on the way out
std::string g_database;  // the file as the caller named it

[[noreturn]] void fail(int code, const std::string& message) {
  // The engine names the file it opened: the caller knows the file by the name it gave.
  std::string text = message;
  if (!g_copy.empty() && !g_database.empty())
    for (size_t at = text.find(g_copy); at != std::string::npos; at = text.find(g_copy, at + g_database.size()))
      text.replace(at, g_copy.size(), g_database);
  if (!g_copy.empty()) unlink(g_copy.c_str());
  RemoveRunFolder();
  std::fprintf(stderr, "fbexport: %s\n", text.c_str());
  std::fflush(stderr);
  std::_Exit(code);
}

const char* kUsage = "uso: fbexport -D arquivo.gdb -U usuario -P senha -Si -V TABELA -F saida.txt";

Args parse(int argc, char** argv) {
  Args a;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) fail(1, std::string("falta o valor da opção ") + argv[i] + "\n" + kUsage);
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "-D") a.database = value(i);
    else if (opt == "-U") a.user = value(i);
    else if (opt == "-P") a.password = value(i);
    else if (opt == "-V") a.table = value(i);
    else if (opt == "-F") a.output = value(i);
    else if (opt == "-E") a.structureOutput = value(i);
    else if (opt == "--copias") a.copies = value(i);
    else if (opt == "-Si") a.inserts = true;
    else if (opt == "-Ss") a.structure = true;
    else if (opt == "--limite-saida") {
      const std::string v = value(i);
      const auto r = std::from_chars(v.data(), v.data() + v.size(), a.outputLimit);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size() || a.outputLimit == 0)
        fail(1, "limite de saída inválido: " + v + "\n" + kUsage);
    } else if (opt == "--leitor") {
      const std::string v = value(i);
      if (v == "proprio") a.reader = Args::Reader::Own;
      else if (v == "motor") a.reader = Args::Reader::Engine;
      else fail(1, "leitor desconhecido: " + v + " (proprio ou motor)\n" + kUsage);
    } else fail(1, "opção desconhecida: " + opt + "\n" + kUsage);
  }
  if (a.database.empty() || a.table.empty() || a.output.empty() || a.inserts == a.structure ||
      (a.structure && !a.structureOutput.empty()))
    fail(1, kUsage);
  return a;
}

// Bytes written so far by every output of this run, and how many the declaration could give.
unsigned long long g_written = 0, g_outputLimit = 0, g_fileSize = 0;

// Output with a large buffer of our own: the rows are many and small.
class Out {
 public:
  explicit Out(const std::string& path) : path_(path), f_(create(path)) {
    if (!f_) fail(3, "não foi possível criar o arquivo " + path + ": " + std::strerror(errno));
    buf_.reserve(kChunk + 4096);
  }
  // The user's alone, and never written through a link planted at the name (the intake removes
  // what stood there before each run; a link that appears meanwhile makes the open fail).
  static FILE* create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
    return f;
  }
  void put(const char* s, size_t n) {
    buf_.append(s, n);
    if (buf_.size() >= kChunk) flush();
  }
  void put(const std::string& s) { put(s.data(), s.size()); }
  void put(char c) { buf_.push_back(c); }
  void flush() {
    g_written += buf_.size();
    if (g_outputLimit && g_written > g_outputLimit) {
      // A hostile file can make rows or blobs repeat; its export must not fill the disk.
      discard();
      fail(2, "a exportação passou de " + std::to_string(g_outputLimit) +
                  " bytes, mais do que a declaração pode conter (arquivo de " + std::to_string(g_fileSize) + " bytes)");
    }
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) writeFailed();
    buf_.clear();
  }
  void close() {
    flush();
    if (std::fclose(f_) != 0) {
      f_ = nullptr;
      writeFailed();
    }
    f_ = nullptr;
  }
  // A half-written export must not look like a finished one.
  void discard() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    std::remove(path_.c_str());
  }

 private:
  [[noreturn]] void writeFailed() {
    const std::string why = std::strerror(errno);
    discard();
    fail(3, "falha ao gravar " + path_ + ": " + why);
  }
  static constexpr size_t kChunk = 1 << 20;
  std::string path_;
  FILE* f_;
  std::string buf_;
};

bool plainIdentifier(const std::string& s) {
  if (s.empty() || !(s[0] >= 'A' && s[0] <= 'Z')) return false;
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$')) return false;
  return true;
}

std::string quotedIdentifier(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + '"';
}

std::string identifier(const std::string& s) { return plainIdentifier(s) ? s : quotedIdentifier(s); }

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// 'text' with apostrophes doubled; CR, LF and NUL leave the quotes as char(n) so the row stays
// on one line.
void putString(Out& out, const char* s, size_t n) {
  auto special = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
  bool first = true;
  size_t i = 0;
  while (i < n || first) {
    if (i < n && special(s[i])) {
      if (!first) out.put(" || ", 4);
      out.put("char(", 5);
      for (bool more = false; i < n && special(s[i]); ++i, more = true) {
        if (more) out.put(", ", 2);
        out.put(std::to_string(static_cast<int>(static_cast<unsigned char>(s[i]))));
      }
      out.put(')');
    } else {
      if (!first) out.put(" || ", 4);
      out.put('\'');
      size_t start = i;
      for (; i < n && !special(s[i]); ++i) {
        if (s[i] == '\'') {
          out.put(s + start, i - start + 1);
          out.put('\'');
          start = i + 1;
        }
      }
      out.put(s + start, i - start);
      out.put('\'');
    }
    first = false;
  }
}

void putScaled(Out& out, long long v, int scale) {
  if (scale >= 0) {
    std::string s = std::to_string(v);
    if (v != 0) s.append(static_cast<size_t>(scale), '0');
    out.put(s);
    return;
  }
  const bool neg = v < 0;
  unsigned long long u = neg ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  std::string digits = std::to_string(u);
  const size_t frac = static_cast<size_t>(-scale);
  if (digits.size() <= frac) digits.insert(0, frac - digits.size() + 1, '0');
  digits.insert(digits.size() - frac, 1, '.');
  if (neg) out.put('-');
  out.put(digits);
}

template <class F>
void putFloat(Out& out, F v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s == "inf" || s == "-inf" || s == "nan" || s == "-nan") s = "NULL";
  out.put(s);
}

void put2(std::string& s, unsigned v) {
  s += static_cast<char>('0' + (v / 10) % 10);
  s += static_cast<char>('0' + v % 10);
}

std::string dateText(unsigned y, unsigned m, unsigned day) {
  std::string s;
  put2(s, day);
  s += '/';
  put2(s, m);
  s += '/';
  char yb[8];
  std::snprintf(yb, sizeof yb, "%04u", y);
  s += yb;
  return s;
}

std::string dateText(IUtil* util, ISC_DATE d) {
  unsigned y = 0, m = 0, day = 0;
  util->decodeDate(d, &y, &m, &day);
  return dateText(y, m, day);
}

std::string timeText(unsigned h, unsigned mi, unsigned sec) {
  std::string s;
  put2(s, h);
  s += ':';
  put2(s, mi);
  s += ':';
  put2(s, sec);
  return s;
}

std::string timeText(IUtil* util, ISC_TIME t) {
  unsigned h = 0, mi = 0, sec = 0, frac = 0;
  util->decodeTime(t, &h, &mi, &sec, &frac);
  return timeText(h, mi, sec);
}

struct Column {
  std::string name;
  unsigned type, subType, length, offset, nullOffset;
  int scale;
};

std::string statusText(IUtil* util, IStatus* status) {
  char buf[2048];
  util->formatStatus(buf, sizeof buf, status);
  std::string s = buf;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  for (auto& c : s)
    if (c == '\n') c = ' ';
  return s;
}

void putBlobData(Out& out, const std::string& data, bool text) {
  if (text) {
    putString(out, data.data(), data.size());
    return;
  }
  static const char* hex = "0123456789ABCDEF";
  out.put("X'");
  for (unsigned char c : data) {
    out.put(hex[c >> 4]);
    out.put(hex[c & 15]);
  }
  out.put('\'');
}

void putBlob(Out& out, IAttachment* att, ITransaction* tra, ThrowStatusWrapper& st, ISC_QUAD* id, bool text) {
  IBlob* blob = att->openBlob(&st, tra, id, 0, nullptr);
  std::string data;
  char buf[32768];
  for (;;) {
    unsigned len = 0;
    const int r = blob->getSegment(&st, sizeof buf, buf, &len);
    if (r == IStatus::RESULT_NO_DATA) break;
    data.append(buf, len);
  }
  blob->close(&st);
  putBlobData(out, data, text);
}

// ---- structure (-Ss): one line per column, in RDB$FIELD_POSITION order, fields separated by TAB:
// name, type, sub-type, length in bytes, length in characters (empty when none), scale,
// precision, character set (empty when none), NULL or NOT NULL; lines end in CR LF.

std::string typeName(int fieldType) {
  switch (fieldType) {
    case 7: return "SMALLINT";
    case 8: return "INTEGER";
    case 9: return "QUAD";
    case 10: return "FLOAT";
    case 11: return "D_FLOAT";
    case 12: return "DATE";
    case 13: return "TIME";
    case 14: return "CHAR";
    case 16: return "BIGINT";
    case 23: return "BOOLEAN";
    case 27: return "DOUBLE PRECISION";
    case 35: return "TIMESTAMP";
    case 37: return "VARCHAR";
    case 40: return "CSTRING";
    case 45: return "BLOB_ID";
    case 261: return "BLOB";
    default: return std::to_string(fieldType);
  }
}

void putStructure(Out& out, const ods::Column& c) {
  std::string line = c.name + '\t' + typeName(c.fieldType) + '\t' + std::to_string(c.subType) + '\t' +
                     std::to_string(c.length) + '\t' + (c.charLength ? std::to_string(*c.charLength) : "") + '\t' +
                     std::to_string(c.scale) + '\t' + std::to_string(c.precision) + '\t' + c.charset + '\t' +
                     (c.notNull ? "NOT NULL" : "NULL") + "\r\n";
  out.put(line);
}

// Computed columns have no stored value; the export goes on without them and says so.
void noteComputed(const std::string& table, const std::vector<std::string>& names) {
  for (const std::string& n : names)
    std::fprintf(stderr,
                 "fbexport: a coluna calculada %s da tabela %s ficou de fora: o arquivo não guarda o seu valor\n",
                 n.c_str(), table.c_str());
}

// ---- our own reader

// Metadata names are kept in UTF-8; the output is Windows-1252 like the engine's.
std::string win1252(const std::string& utf8) {
  static const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    unsigned cp = b, extra = 0;
    if (b >= 0xF0) cp = b & 7, extra = 3;
    else if (b >= 0xE0) cp = b & 15, extra = 2;
    else if (b >= 0xC0) cp = b & 31, extra = 1;
    ++i;
    for (; extra > 0 && i < utf8.size(); --extra, ++i) cp = cp << 6 | (static_cast<unsigned char>(utf8[i]) & 63);
    char c = '?';
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) c = static_cast<char>(cp);
    else
      for (unsigned k = 0; k < 32; ++k)
        if (kHigh[k] == cp) c = static_cast<char>(0x80 + k);
    out += c;
  }
  return out;
}

int64_t intValue(const ods::Value& v) {
  const unsigned char* p = v.data;
  switch (v.desc.dtype) {
    case ods::kShort: return static_cast<int16_t>(p[0] | p[1] << 8);
    case ods::kLong: {
      int32_t x;
      std::memcpy(&x, p, 4);
      return x;
    }
    default: {
      int64_t x;
      std::memcpy(&x, p, 8);
      return x;
    }
  }
}

std::string textValue(const ods::Value& v) {
  if (v.desc.dtype == ods::kVarying) {
    const unsigned len = v.data[0] | v.data[1] << 8;
    if (len > v.desc.length - 2u) throw ods::OdsError("texto maior que a coluna");
    return std::string(reinterpret_cast<const char*>(v.data + 2), len);
  }
  return std::string(reinterpret_cast<const char*>(v.data), v.desc.length);
}

bool isInteger(uint8_t t) { return t == ods::kShort || t == ods::kLong || t == ods::kInt64; }
bool isText(uint8_t t) { return t == ods::kText || t == ods::kVarying; }

// A text column's value in Windows-1252, a fixed-length one blank-padded to its width in characters.
void putOwnText(Out& out, const ods::Column& col, const ods::FieldDesc& cur, const ods::Value& v, bool utf8) {
  if (!isText(v.desc.dtype)) throw ods::OdsError("conversão de tipo não suportada na coluna " + col.name);
  std::string s = textValue(v);
  if (utf8) s = win1252(s);
  if (cur.dtype == ods::kText) {
    const size_t width = utf8 && col.charLength ? std::min<size_t>(*col.charLength, cur.length) : cur.length;
    if (utf8)
      while (!s.empty() && s.back() == ' ') s.pop_back();
    s.resize(width, ' ');
  }
  putString(out, s.data(), s.size());
}

// One value written as the engine would hand it over in the column's current type: rows stored
// under an older format are converted the way the engine converts them when reading.
void putOwnValue(Out& out, ods::Database& db, const ods::Table& table, const ods::Column& col,
                 const ods::FieldDesc& cur, const ods::Value& v) {
  if (v.null) {
    out.put("NULL", 4);
    return;
  }
  const ods::FieldDesc& d = v.desc;
  const bool utf8 = col.charsetId && (*col.charsetId == 3 || *col.charsetId == 4);
  if (isText(cur.dtype)) {
    putOwnText(out, col, cur, v, utf8);
    return;
  }
  if (isInteger(cur.dtype) && isInteger(d.dtype)) {
    int64_t x = intValue(v);
    for (int k = d.scale; k > cur.scale; --k) x *= 10;
    for (int k = d.scale; k < cur.scale; ++k) x /= 10;
    putScaled(out, x, cur.scale);
    return;
  }
  if (cur.dtype != d.dtype) throw ods::OdsError("conversão de tipo não suportada na coluna " + col.name);
  const unsigned char* p = v.data;
  switch (cur.dtype) {
    case ods::kReal: {
      float f;
      std::memcpy(&f, p, 4);
      putFloat(out, f);
      break;
    }
    case ods::kDouble:
    case ods::kDFloat: {
      double f;
      std::memcpy(&f, p, 8);
      putFloat(out, f);
      break;
    }
    case ods::kSqlDate:
    case ods::kTimestamp: {
      int32_t days;
      std::memcpy(&days, p, 4);
      int y, m, dd;
      ods::decodeDate(days, &y, &m, &dd);
      out.put('\'');
      out.put(dateText(static_cast<unsigned>(y), static_cast<unsigned>(m), static_cast<unsigned>(dd)));
      if (cur.dtype == ods::kSqlDate) {
        out.put(" 00:00:00'");
        break;
      }
      p += 4;
      [[fallthrough]];
    }
    case ods::kSqlTime: {
      uint32_t ticks;
      std::memcpy(&ticks, p, 4);
      int h, mi, sec;
      ods::decodeTime(ticks, &h, &mi, &sec);
      out.put(cur.dtype == ods::kTimestamp ? ' ' : '\'');
      out.put(timeText(static_cast<unsigned>(h), static_cast<unsigned>(mi), static_cast<unsigned>(sec)));
      out.put('\'');
      break;
    }
    case ods::kBoolean: out.put(*p ? '1' : '0'); break;
    case ods::kBlob: {
      const bool text = cur.subType == 1;
      std::string data = db.blob(table, p);
      if (text && utf8) data = win1252(data);
      putBlobData(out, data, text);
      break;
    }
    default: {
      // The engine's own numbers for the types it does not export, for the same message.
      const int sqlType = cur.dtype == ods::kArray ? 540 : cur.dtype == ods::kQuad ? 550 : 0;
      throw ods::OdsError("a coluna " + col.name + " da tabela " + table.name + " tem um tipo que não é exportado (" +
                          std::to_string(sqlType) + ")");
    }
  }
}

void runOwn(const Args& args) {
  Out* out = nullptr;
  try {
    ods::Database db(std::make_unique<ods::FileSource>(args.database));
    auto table = db.findTable(args.table);
    if (!table) fail(2, "a tabela " + args.table + " não existe no arquivo " + args.database);
    const std::string name = win1252(table->name);
    std::vector<std::string> computed;
    for (const std::string& c : table->computed) computed.push_back(win1252(c));
    noteComputed(name, computed);
    if (args.structure || !args.structureOutput.empty()) {
      out = new Out(args.structure ? args.output : args.structureOutput);
      for (ods::Column c : table->columns) {
        c.name = win1252(c.name);
        putStructure(*out, c);
      }
      if (!args.structure) {
        out->close();
        delete out;
        out = nullptr;
      }
    }
    if (args.inserts) {
      // Characters sets the output takes as they are (the engine passes them to Windows-1252
      // unchanged) or converts (UNICODE_FSS, UTF8).
      for (const ods::Column& c : table->columns) {
        const bool textual = c.fieldType == 14 || c.fieldType == 37 || (c.fieldType == 261 && c.subType == 1);
        if (textual && c.charsetId && *c.charsetId != 0 && *c.charsetId != 1 && *c.charsetId != 2 &&
            *c.charsetId != 3 && *c.charsetId != 4 && *c.charsetId != 21 && *c.charsetId != 53)
          throw ods::OdsError("a coluna " + c.name + " usa o conjunto de caracteres " + c.charset +
                              ", que o leitor próprio não converte");
      }
      std::vector<ods::FieldDesc> current;
      std::string head = "INSERT INTO " + identifier(name) + " (";
      bool firstCol = true;
      for (const ods::Column& c : table->columns) {
        if (!firstCol) head += ", ";
        firstCol = false;
        head += identifier(win1252(c.name));
      }
      head += ") VALUES (";
      out = new Out(args.output);
      bool currentKnown = false;
      db.scan(*table, [&](const std::vector<ods::Value>& row) {
        if (!currentKnown) {
          // The current format's descriptions, taken from the table's newest format.
          current = db.currentFields(*table);
          currentKnown = true;
        }
        out->put(head);
        for (size_t i = 0; i < row.size(); ++i) {
          if (i) out->put(", ", 2);
          putOwnValue(*out, db, *table, table->columns[i], current[i], row[i]);
        }
        out->put(");\r\n", 4);
      });
    }
    out->close();
    delete out;
  } catch (const ods::OdsError& e) {
    if (out) out->discard();
    fail(2, "falha ao ler o arquivo " + args.database + ": " + e.what());
  } catch (const std::exception& e) {
    // Whatever slipped past the checks (memory, a length) ends like damage, never in abort().
    if (out) out->discard();
    fail(2, "falha ao ler o arquivo " + args.database + ": " + e.what());
  }
}

// Limits of its own, whoever runs it: the declaration is outside input. A plain declaration's export
// stays far below 128 times the file (records pack at most 64 to 1), and memory below a few copies
// of the largest blob, which the file bounds.
void limitResources(const Args& args, unsigned long long fileSize) {
  g_fileSize = fileSize;
  g_outputLimit = args.outputLimit ? args.outputLimit : (64ull << 20) + 128 * fileSize;
  auto lower = [](int resource, rlim_t want) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0) return;
    if (r.rlim_max != RLIM_INFINITY && r.rlim_max < want) want = r.rlim_max;
    if (r.rlim_cur == RLIM_INFINITY || r.rlim_cur > want) {
      r.rlim_cur = want;
      setrlimit(resource, &r);
    }
  };
#if !defined(__SANITIZE_ADDRESS__) && !ZIDE_ASAN_CLANG
  // (AddressSanitizer reserves terabytes of address space for itself: not in its builds.)
  lower(RLIMIT_AS, static_cast<rlim_t>((1ull << 30) + 3 * fileSize));
#endif
  lower(RLIMIT_CPU, 600);
}

// The engine's code for "unsupported on-disk structure".
bool wrongOds(IStatus* status) {
  for (const intptr_t* v = status->getErrors(); v && *v != isc_arg_end; v += 2)
    if (v[0] == isc_arg_gds && v[1] == 335544379) return true;  // isc_wrong_ods
  return false;
}

// One export through the engine: what it holds open and the steps it takes, in the order run() calls
// them. `stage` names the step a failure is reported in; `out` is the file being written, discarded
// on failure.
struct EngineExport {
  const Args& args;
  IMaster* master = fb_get_master_interface();
  IUtil* util = master->getUtilInterface();
  ThrowStatusWrapper st{master->getStatus()};
  IProvider* prov = master->getDispatcher();
  IAttachment* att = nullptr;
  ITransaction* tra = nullptr;
  std::string stage;
  Out* out = nullptr;

  explicit EngineExport(const Args& a) : args(a), stage("abrir o arquivo " + a.database) {}

  void run(const std::string& dbPath) {
    attach(dbPath);
    stage = "ler a tabela " + args.table;
    startTransaction();
    const std::string table = findTable();
    std::vector<std::string> computed;
    const std::vector<ods::Column> stored = storedColumns(table, &computed);
    noteComputed(table, computed);
    if (stored.empty()) fail(2, "a tabela " + table + " não tem colunas guardadas no arquivo");
    if (args.structure || !args.structureOutput.empty()) {
      out = new Out(args.structure ? args.output : args.structureOutput);
      for (const ods::Column& c : stored) putStructure(*out, c);
      closeOut();
      if (args.structure) {
        end();
        return;
      }
    }
    out = new Out(args.output);
    writeRows(table, stored);
    end();
    closeOut();
  }

  void attach(const std::string& dbPath) {
    IXpbBuilder* dpb = util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, args.user.c_str());
    dpb->insertString(&st, isc_dpb_password, args.password.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
    dpb->insertTag(&st, isc_dpb_utf8_filename);
    dpb->insertInt(&st, isc_dpb_no_garbage_collect, 1);
    att = prov->attachDatabase(&st, dbPath.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();
  }

  void startTransaction() {
    IXpbBuilder* tpb = util->getXpbBuilder(&st, IXpbBuilder::TPB, nullptr, 0);
    tpb->insertTag(&st, isc_tpb_read);
    tpb->insertTag(&st, isc_tpb_read_committed);
    tpb->insertTag(&st, isc_tpb_rec_version);
    tra = att->startTransaction(&st, tpb->getBufferLength(&st), tpb->getBuffer(&st));
    tpb->dispose();
  }

  void end() {
    tra->commit(&st);
    tra = nullptr;
    att->detach(&st);
    att = nullptr;
  }

  void closeOut() {
    out->close();
    delete out;
    out = nullptr;
  }

  // Runs a query and hands each fetched row to `each` with the output layout.
  template <class F>
  void forEachRow(const char* query, F each) {
    IStatement* stmt = att->prepare(&st, tra, 0, query, 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* meta = stmt->getOutputMetadata(&st);
    std::vector<unsigned char> row(meta->getMessageLength(&st));
    IResultSet* cur = stmt->openCursor(&st, tra, nullptr, nullptr, meta, 0);
    while (cur->fetchNext(&st, row.data()) == IStatus::RESULT_OK) each(meta, row);
    cur->close(&st);
    meta->release();
    stmt->free(&st);
  }

  // Which user table the name means (the engine keeps names in upper case): the name as given or in
  // upper case, the former when both exist. The names are compared here, so no statement carries
  // the argument.
  std::string findTable() {
    std::string upper = args.table;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    std::string table;
    forEachRow("select trim(rdb$relation_name) from rdb$relations where coalesce(rdb$system_flag, 0) = 0",
               [&](IMessageMetadata* meta, const std::vector<unsigned char>& row) {
                 if (*reinterpret_cast<const short*>(row.data() + meta->getNullOffset(&st, 0))) return;
                 const unsigned char* p = row.data() + meta->getOffset(&st, 0);
                 const unsigned short len = *reinterpret_cast<const unsigned short*>(p);
                 const std::string name(reinterpret_cast<const char*>(p + 2), len);
                 if ((name == args.table || name == upper) && name > table) table = name;
               });
    if (table.empty()) {
      tra->rollback(&st);
      att->detach(&st);
      fail(2, "a tabela " + args.table + " não existe no arquivo " + args.database);
    }
    return table;
  }

  // The same columns our reader lists: RDB$RELATION_FIELDS in position order with their domains in
  // RDB$FIELDS and the character set names. Computed columns are left out (named in `computed`):
  // the file keeps no value for them, so neither reader can give one.
  std::vector<ods::Column> storedColumns(const std::string& table, std::vector<std::string>* computed) {
    std::string tlit;
    for (char c : table) {
      tlit += c;
      if (c == '\'') tlit += '\'';
    }
    const std::string query =
        "select trim(rf.rdb$field_name), f.rdb$field_type, f.rdb$field_sub_type, f.rdb$field_length, "
        "f.rdb$character_length, f.rdb$field_scale, f.rdb$field_precision, trim(cs.rdb$character_set_name), "
        "rf.rdb$null_flag, f.rdb$null_flag, f.rdb$character_set_id, "
        "iif(f.rdb$computed_blr is null, 0, 1) "
        "from rdb$relation_fields rf join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
        "left join rdb$character_sets cs on cs.rdb$character_set_id = f.rdb$character_set_id "
        "where trim(rf.rdb$relation_name) = '" +
        tlit + "' order by rf.rdb$field_position, rf.rdb$field_id";
    std::vector<ods::Column> stored;
    forEachRow(query.c_str(), [&](IMessageMetadata* meta, const std::vector<unsigned char>& row) {
      auto isNull = [&](unsigned i) {
        return *reinterpret_cast<const short*>(row.data() + meta->getNullOffset(&st, i)) != 0;
      };
      auto text = [&](unsigned i) -> std::string {
        if (isNull(i)) return {};
        const unsigned char* p = row.data() + meta->getOffset(&st, i);
        if (meta->getType(&st, i) == SQL_VARYING)
          return std::string(reinterpret_cast<const char*>(p + 2), *reinterpret_cast<const unsigned short*>(p));
        return rtrim(std::string(reinterpret_cast<const char*>(p), meta->getLength(&st, i)));
      };
      auto number = [&](unsigned i) -> std::optional<int> {
        if (isNull(i)) return std::nullopt;
        const unsigned char* p = row.data() + meta->getOffset(&st, i);
        switch (meta->getType(&st, i)) {
          case SQL_SHORT: return *reinterpret_cast<const short*>(p);
          case SQL_LONG: return *reinterpret_cast<const int*>(p);
          default: return static_cast<int>(*reinterpret_cast<const long long*>(p));
        }
      };
      ods::Column c;
      c.name = text(0);
      c.fieldType = number(1).value_or(0);
      c.subType = number(2).value_or(0);
      c.length = number(3).value_or(0);
      c.charLength = number(4);
      c.scale = number(5).value_or(0);
      c.precision = number(6).value_or(0);
      c.charset = text(7);
      c.notNull = number(8).value_or(0) != 0 || number(9).value_or(0) != 0;
      if (number(11).value_or(0)) computed->push_back(c.name);
      else stored.push_back(std::move(c));
    });
    return stored;
  }

  // Every row of the table as one INSERT line into `out`.
  void writeRows(const std::string& table, const std::vector<ods::Column>& stored) {
    std::string select = "select ";
    for (size_t i = 0; i < stored.size(); ++i) select += (i ? ", " : "") + quotedIdentifier(stored[i].name);
    select += " from " + quotedIdentifier(table);
    std::vector<Column> cols;
    std::string head;
    forEachRow(select.c_str(), [&](IMessageMetadata* meta, const std::vector<unsigned char>& row) {
      if (cols.empty()) head = insertHead(table, meta, &cols);
      out->put(head);
      for (unsigned i = 0; i < cols.size(); ++i) {
        if (i) out->put(", ", 2);
        if (*reinterpret_cast<const short*>(row.data() + cols[i].nullOffset)) out->put("NULL", 4);
        else putValue(table, cols[i], row.data() + cols[i].offset);
      }
      out->put(");\r\n", 4);
    });
  }

  // "INSERT INTO table (columns) VALUES (" and where each column's value sits in a fetched row.
  std::string insertHead(const std::string& table, IMessageMetadata* meta, std::vector<Column>* cols) {
    const unsigned count = meta->getCount(&st);
    cols->resize(count);
    std::string head = "INSERT INTO " + identifier(table) + " (";
    for (unsigned i = 0; i < count; ++i) {
      Column& c = (*cols)[i];
      c.name = rtrim(meta->getField(&st, i));
      c.type = meta->getType(&st, i);
      c.subType = static_cast<unsigned>(meta->getSubType(&st, i));
      c.length = meta->getLength(&st, i);
      c.scale = meta->getScale(&st, i);
      c.offset = meta->getOffset(&st, i);
      c.nullOffset = meta->getNullOffset(&st, i);
      if (i) head += ", ";
      head += identifier(c.name);
    }
    return head + ") VALUES (";
  }

  void putValue(const std::string& table, const Column& c, const unsigned char* p) {
    switch (c.type) {
      case SQL_VARYING: {
        const unsigned short len = *reinterpret_cast<const unsigned short*>(p);
        putString(*out, reinterpret_cast<const char*>(p + 2), len);
        break;
      }
      case SQL_TEXT: putString(*out, reinterpret_cast<const char*>(p), c.length); break;
      case SQL_SHORT: putScaled(*out, *reinterpret_cast<const ISC_SHORT*>(p), c.scale); break;
      case SQL_LONG: putScaled(*out, *reinterpret_cast<const ISC_LONG*>(p), c.scale); break;
      case SQL_INT64: putScaled(*out, *reinterpret_cast<const ISC_INT64*>(p), c.scale); break;
      case SQL_FLOAT: putFloat(*out, *reinterpret_cast<const float*>(p)); break;
      case SQL_DOUBLE:
      case SQL_D_FLOAT: putFloat(*out, *reinterpret_cast<const double*>(p)); break;
      case SQL_TYPE_DATE:
        out->put('\'');
        out->put(dateText(util, *reinterpret_cast<const ISC_DATE*>(p)));
        out->put(" 00:00:00'");
        break;
      case SQL_TYPE_TIME:
        out->put('\'');
        out->put(timeText(util, *reinterpret_cast<const ISC_TIME*>(p)));
        out->put('\'');
        break;
      case SQL_TIMESTAMP: {
        const auto* ts = reinterpret_cast<const ISC_TIMESTAMP*>(p);
        out->put('\'');
        out->put(dateText(util, ts->timestamp_date));
        out->put(' ');
        out->put(timeText(util, ts->timestamp_time));
        out->put('\'');
        break;
      }
      case SQL_BOOLEAN: out->put(*p ? '1' : '0'); break;
      case SQL_BLOB:
        putBlob(*out, att, tra, st, reinterpret_cast<ISC_QUAD*>(const_cast<unsigned char*>(p)), c.subType == 1);
        break;
      case SQL_NULL: out->put("NULL", 4); break;
      default:
        out->discard();
        fail(2, "a coluna " + c.name + " da tabela " + table + " tem um tipo que não é exportado (" +
                    std::to_string(c.type) + ")");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const Args args = parse(argc, argv);
  g_database = args.database;

  struct stat dbStat {};
  if (stat(args.database.c_str(), &dbStat) != 0 || !S_ISREG(dbStat.st_mode))
    fail(2, "arquivo não encontrado: " + args.database);
  limitResources(args, static_cast<unsigned long long>(dbStat.st_size));
  // A bare name would be taken for a server alias; the engine must see a path.
  std::string dbPath = args.database;
  if (dbPath[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) dbPath = std::string(cwd) + "/" + dbPath;
  }

  if (args.reader == Args::Reader::Own) {
    runOwn(args);
    return 0;
  }
  // The engine opens only its own on-disk version; the header says which one the file has.
  if (args.reader == Args::Reader::Automatic) {
    try {
      ods::FileSource src(args.database);
      auto h = ods::peekHeader(src);
      if (h && h->odsMajor != 12) {
        runOwn(args);
        return 0;
      }
    } catch (const ods::OdsError&) {
      // Unreadable here too: the engine gives its own reason.
    }
  }

  std::string envError;
  if (!PrepareEmbeddedFirebird(&envError)) fail(2, envError);
  if (dbPath.find(':') != std::string::npos || access(dbPath.c_str(), W_OK) != 0 || !SharedLockFolder()) {
    g_copy = PrivateCopy(dbPath, args.copies, &envError);
    if (g_copy.empty()) fail(2, envError);
    dbPath = g_copy;
  }

  EngineExport ex(args);
  try {
    ex.run(dbPath);
  } catch (const FbException& e) {
    // A version the engine refuses is read by our own reader instead.
    if (!ex.att && args.reader == Args::Reader::Automatic && wrongOds(e.getStatus())) {
      if (!g_copy.empty()) unlink(g_copy.c_str());
      g_copy.clear();
      runOwn(args);
      return 0;
    }
    const std::string why = statusText(ex.util, e.getStatus());
    if (ex.out) ex.out->discard();
    fail(2, "falha ao " + ex.stage + ": " + why);
  }
  ex.prov->release();
  if (!g_copy.empty()) unlink(g_copy.c_str());
  return 0;
}
