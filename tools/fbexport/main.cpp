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
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <firebird/Interface.h>

#include "fbenv.h"

using namespace Firebird;

namespace {

struct Args {
  std::string database;
  std::string user = "SYSDBA";
  std::string password;
  std::string table;
  std::string output;
  bool inserts = false;
};

std::string g_copy;  // a private copy of the declaration, removed on the way out

[[noreturn]] void fail(int code, const std::string& message) {
  if (!g_copy.empty()) unlink(g_copy.c_str());
  RemoveRunFolder();
  std::fprintf(stderr, "fbexport: %s\n", message.c_str());
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
    else if (opt == "-Si") a.inserts = true;
    else fail(1, "opção desconhecida: " + opt + "\n" + kUsage);
  }
  if (a.database.empty() || a.table.empty() || a.output.empty() || !a.inserts) fail(1, kUsage);
  return a;
}

// Output with a large buffer of our own: the rows are many and small.
class Out {
 public:
  explicit Out(const std::string& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) {
    if (!f_) fail(3, "não foi possível criar o arquivo " + path + ": " + std::strerror(errno));
    buf_.reserve(kChunk + 4096);
  }
  void put(const char* s, size_t n) {
    buf_.append(s, n);
    if (buf_.size() >= kChunk) flush();
  }
  void put(const std::string& s) { put(s.data(), s.size()); }
  void put(char c) { buf_.push_back(c); }
  void flush() {
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

std::string dateText(IUtil* util, ISC_DATE d) {
  unsigned y = 0, m = 0, day = 0;
  util->decodeDate(d, &y, &m, &day);
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

std::string timeText(IUtil* util, ISC_TIME t) {
  unsigned h = 0, mi = 0, sec = 0, frac = 0;
  util->decodeTime(t, &h, &mi, &sec, &frac);
  std::string s;
  put2(s, h);
  s += ':';
  put2(s, mi);
  s += ':';
  put2(s, sec);
  return s;
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

}  // namespace

int main(int argc, char** argv) {
  const Args args = parse(argc, argv);

  struct stat dbStat {};
  if (stat(args.database.c_str(), &dbStat) != 0 || !S_ISREG(dbStat.st_mode))
    fail(2, "arquivo não encontrado: " + args.database);
  // A bare name would be taken for a server alias; the engine must see a path.
  std::string dbPath = args.database;
  if (dbPath[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) dbPath = std::string(cwd) + "/" + dbPath;
  }

  std::string envError;
  if (!PrepareEmbeddedFirebird(&envError)) fail(2, envError);
  if (dbPath.find(':') != std::string::npos || access(dbPath.c_str(), W_OK) != 0 || !SharedLockFolder()) {
    g_copy = PrivateCopy(dbPath, &envError);
    if (g_copy.empty()) fail(2, envError);
    dbPath = g_copy;
  }

  IMaster* master = fb_get_master_interface();
  IUtil* util = master->getUtilInterface();
  IStatus* status = master->getStatus();
  ThrowStatusWrapper st(status);
  IProvider* prov = master->getDispatcher();
  IAttachment* att = nullptr;
  ITransaction* tra = nullptr;
  IResultSet* rs = nullptr;
  std::string stage = "abrir o arquivo " + args.database;
  Out* out = nullptr;
  try {
    IXpbBuilder* dpb = util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, args.user.c_str());
    dpb->insertString(&st, isc_dpb_password, args.password.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
    dpb->insertTag(&st, isc_dpb_utf8_filename);
    dpb->insertInt(&st, isc_dpb_no_garbage_collect, 1);
    att = prov->attachDatabase(&st, dbPath.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();

    stage = "ler a tabela " + args.table;
    IXpbBuilder* tpb = util->getXpbBuilder(&st, IXpbBuilder::TPB, nullptr, 0);
    tpb->insertTag(&st, isc_tpb_read);
    tpb->insertTag(&st, isc_tpb_read_committed);
    tpb->insertTag(&st, isc_tpb_rec_version);
    tra = att->startTransaction(&st, tpb->getBufferLength(&st), tpb->getBuffer(&st));
    tpb->dispose();

    // Which user table the name means (the engine keeps names in upper case).
    std::string lit;
    for (char c : args.table) {
      lit += c;
      if (c == '\'') lit += '\'';
    }
    const std::string find =
        "select trim(rdb$relation_name) from rdb$relations where coalesce(rdb$system_flag, 0) = 0 and "
        "(trim(rdb$relation_name) = '" +
        lit + "' or trim(rdb$relation_name) = upper('" + lit +
        "')) "
        "order by 1 desc";
    std::string table;
    {
      IStatement* stmt = att->prepare(&st, tra, 0, find.c_str(), 3, IStatement::PREPARE_PREFETCH_METADATA);
      IMessageMetadata* meta = stmt->getOutputMetadata(&st);
      std::vector<unsigned char> row(meta->getMessageLength(&st));
      IResultSet* cur = stmt->openCursor(&st, tra, nullptr, nullptr, meta, 0);
      if (cur->fetchNext(&st, row.data()) == IStatus::RESULT_OK &&
          !*reinterpret_cast<short*>(row.data() + meta->getNullOffset(&st, 0))) {
        const unsigned char* p = row.data() + meta->getOffset(&st, 0);
        const unsigned short len = *reinterpret_cast<const unsigned short*>(p);
        table.assign(reinterpret_cast<const char*>(p + 2), len);
      }
      cur->close(&st);
      meta->release();
      stmt->free(&st);
    }
    if (table.empty()) {
      tra->rollback(&st);
      att->detach(&st);
      fail(2, "a tabela " + args.table + " não existe no arquivo " + args.database);
    }

    const std::string select = "select * from " + quotedIdentifier(table);
    IStatement* stmt = att->prepare(&st, tra, 0, select.c_str(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* meta = stmt->getOutputMetadata(&st);
    const unsigned count = meta->getCount(&st);
    std::vector<Column> cols(count);
    std::string head = "INSERT INTO " + identifier(table) + " (";
    for (unsigned i = 0; i < count; ++i) {
      Column& c = cols[i];
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
    head += ") VALUES (";
    std::vector<unsigned char> row(meta->getMessageLength(&st));

    out = new Out(args.output);
    rs = stmt->openCursor(&st, tra, nullptr, nullptr, meta, 0);
    while (rs->fetchNext(&st, row.data()) == IStatus::RESULT_OK) {
      out->put(head);
      for (unsigned i = 0; i < count; ++i) {
        const Column& c = cols[i];
        if (i) out->put(", ", 2);
        if (*reinterpret_cast<const short*>(row.data() + c.nullOffset)) {
          out->put("NULL", 4);
          continue;
        }
        const unsigned char* p = row.data() + c.offset;
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
      out->put(");\r\n", 4);
    }
    rs->close(&st);
    rs = nullptr;
    meta->release();
    stmt->free(&st);
    tra->commit(&st);
    tra = nullptr;
    att->detach(&st);
    att = nullptr;
    out->close();
    delete out;
  } catch (const FbException& e) {
    const std::string why = statusText(util, e.getStatus());
    if (out) out->discard();
    fail(2, "falha ao " + stage + ": " + why);
  }
  prov->release();
  if (!g_copy.empty()) unlink(g_copy.c_str());
  return 0;
}
