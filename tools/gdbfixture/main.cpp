// gdbfixture: builds a ZIDE declaration (.GDB) with Firebird's embedded engine from the same
// table definitions the working database is made from, filled with generated rows.
// See README.md in this folder for the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <firebird/Interface.h>

#include "fbenv.h"
#include "zide_tables_sql.h"

using namespace Firebird;

namespace {

struct Company {
  std::string ie, cnpj, name;
};

struct Options {
  std::string output;
  std::vector<Company> companies;
  int generatedCompanies = 0;
  int references = 3;
  int firstYear = 2023, firstMonth = 1;
  std::vector<std::string> substitui{"N"};
  std::map<std::string, long long> rows;
  long long rowsEach = 2;
  long long totalRows = -1;
  std::set<std::string> omit;
  std::string schemaFile;
  bool quiet = false;
};

[[noreturn]] void fail(const std::string& m) {
  std::fprintf(stderr, "gdbfixture: %s\n", m.c_str());
  std::exit(2);
}

const char* kUsage =
    "uso: gdbfixture SAIDA.gdb [--company IE[,CNPJ[,RAZAO]]]... [--companies N] [--references M]\n"
    "                [--first AAAA-MM] [--substitui N,S,...] [--rows TABELA=QTD]... [--rows-each QTD]\n"
    "                [--total-rows QTD] [--omit TABELA]... [--schema ARQUIVO.sql] [--quiet]";

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

long long number(const std::string& s, const char* what) {
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end || v < 0) fail(std::string("valor inválido para ") + what + ": " + s);
  return v;
}

Options parse(int argc, char** argv) {
  Options o;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) fail(std::string("falta o valor de ") + argv[i] + "\n" + kUsage);
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--company") {
      auto parts = split(value(i), ',');
      Company c;
      c.ie = parts.size() > 0 ? parts[0] : "";
      c.cnpj = parts.size() > 1 ? parts[1] : "";
      c.name = parts.size() > 2 ? parts[2] : "";
      o.companies.push_back(c);
    } else if (a == "--companies") o.generatedCompanies = static_cast<int>(number(value(i), "--companies"));
    else if (a == "--references") o.references = static_cast<int>(number(value(i), "--references"));
    else if (a == "--first") {
      const std::string v = value(i);
      if (std::sscanf(v.c_str(), "%d-%d", &o.firstYear, &o.firstMonth) != 2 || o.firstMonth < 1 || o.firstMonth > 12)
        fail("valor inválido para --first: " + v);
    } else if (a == "--substitui") o.substitui = split(value(i), ',');
    else if (a == "--rows") {
      const std::string v = value(i);
      const auto eq = v.find('=');
      if (eq == std::string::npos) fail("use --rows TABELA=QTD");
      o.rows[v.substr(0, eq)] = number(v.substr(eq + 1), "--rows");
    } else if (a == "--rows-each") o.rowsEach = number(value(i), "--rows-each");
    else if (a == "--total-rows") o.totalRows = number(value(i), "--total-rows");
    else if (a == "--omit") o.omit.insert(value(i));
    else if (a == "--schema") o.schemaFile = value(i);
    else if (a == "--quiet") o.quiet = true;
    else if (a == "-h" || a == "--help") {
      std::puts(kUsage);
      std::exit(0);
    } else if (!a.empty() && a[0] == '-') fail("opção desconhecida: " + a + "\n" + kUsage);
    else if (o.output.empty()) o.output = a;
    else fail("mais de um arquivo de saída\n" + std::string(kUsage));
  }
  if (o.output.empty()) fail(kUsage);
  if (o.substitui.empty()) o.substitui = {"N"};
  for (int k = 0; k < o.generatedCompanies; ++k) {
    char ie[32], cnpj[32];
    std::snprintf(ie, sizeof ie, "%013d", 1000000 + k);
    std::snprintf(cnpj, sizeof cnpj, "%08d000100", 10000000 + k);
    o.companies.push_back({ie, cnpj, ""});
  }
  if (o.companies.empty()) o.companies.push_back({"0010000000000", "11222333000181", ""});
  for (size_t k = 0; k < o.companies.size(); ++k)
    if (o.companies[k].name.empty()) o.companies[k].name = "Empresa " + std::to_string(k + 1) + " Ltda";
  return o;
}

struct TableDef {
  std::string name;
  std::string ddl;
};

std::vector<TableDef> parseSchema(const std::string& text) {
  std::string clean;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first != std::string::npos && line.compare(first, 2, "--") == 0) continue;
    clean += line + "\n";
  }
  std::vector<TableDef> tables;
  for (const std::string& stmt : split(clean, ';')) {
    const auto pos = stmt.find("CREATE TABLE ");
    if (pos == std::string::npos) continue;
    std::istringstream words(stmt.substr(pos + 13));
    std::string name;
    words >> name;
    tables.push_back({name, stmt});
  }
  return tables;
}

// Windows-1252 text with accents and an apostrophe, as declarations carry.
const std::string kWords[] = {"Descri\xE7\xE3o",
                              "Com\xE9rcio",
                              "D'\xC1vila",
                              "Opera\xE7\xF5"
                              "es",
                              "Tavarel",
                              "Servi\xE7o",
                              "Cr\xE9"
                              "dito",
                              "D\xE9"
                              "bito"};

int daysIn(int y, int m) {
  static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return d[m - 1];
}

class Builder {
 public:
  explicit Builder(const Options& o) : o_(o) {}

  void run() {
    std::string schema = kZideTablesSql;
    if (!o_.schemaFile.empty()) {
      std::ifstream f(o_.schemaFile);
      if (!f) fail("não foi possível ler " + o_.schemaFile);
      std::stringstream ss;
      ss << f.rdbuf();
      schema = ss.str();
    }
    std::vector<TableDef> tables;
    for (const auto& t : parseSchema(schema))
      if (!o_.omit.count(t.name)) tables.push_back(t);

    std::string envError;
    if (!PrepareEmbeddedFirebird(&envError)) fail(envError);
    std::remove(o_.output.c_str());

    master_ = fb_get_master_interface();
    util_ = master_->getUtilInterface();
    ThrowStatusWrapper st(master_->getStatus());
    try {
      IProvider* prov = master_->getDispatcher();
      IXpbBuilder* dpb = util_->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
      dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
      dpb->insertString(&st, isc_dpb_password, "masterkey");
      dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
      dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1252");
      dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
      dpb->insertInt(&st, isc_dpb_page_size, 8192);
      dpb->insertInt(&st, isc_dpb_force_write, 0);
      dpb->insertTag(&st, isc_dpb_utf8_filename);
      std::string path = o_.output;
      if (path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
      }
      att_ = prov->createDatabase(&st, path.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
      dpb->dispose();

      ITransaction* tra = att_->startTransaction(&st, 0, nullptr);
      for (const auto& t : tables) att_->execute(&st, tra, 0, t.ddl.c_str(), 3, nullptr, nullptr, nullptr, nullptr);
      tra->commit(&st);

      plan(tables);
      tra = att_->startTransaction(&st, 0, nullptr);
      long long total = 0;
      for (const auto& t : tables) total += fill(st, tra, t.name);
      tra->commit(&st);
      att_->detach(&st);
      prov->release();
      if (!o_.quiet)
        std::printf("%s: %zu tabelas, %zu empresas, %lld linhas\n", o_.output.c_str(), tables.size(),
                    o_.companies.size(), total);
    } catch (const FbException& e) {
      char buf[2048];
      util_->formatStatus(buf, sizeof buf, e.getStatus());
      fail(buf);
    }
  }

 private:
  void plan(const std::vector<TableDef>& tables) {
    refs_ = static_cast<long long>(o_.companies.size()) * o_.references;
    long long others = 0;
    for (const auto& t : tables)
      if (t.name != "TAB03002" && t.name != "TAB03003" && !o_.rows.count(t.name)) ++others;
    long long fixedRows = 0;
    for (const auto& [name, n] : o_.rows) fixedRows += n;
    for (const auto& t : tables) {
      long long n = o_.rowsEach;
      if (t.name == "TAB03002") n = static_cast<long long>(o_.companies.size());
      else if (t.name == "TAB03003") n = refs_;
      if (auto it = o_.rows.find(t.name); it != o_.rows.end()) n = it->second;
      counts_[t.name] = n;
    }
    if (o_.totalRows >= 0 && others > 0) {
      // What the named tables do not take is spread over the others, the first ones one more.
      long long rest = o_.totalRows - fixedRows - (o_.rows.count("TAB03002") ? 0 : counts_["TAB03002"]) -
                       (o_.rows.count("TAB03003") ? 0 : counts_["TAB03003"]);
      if (rest < 0) rest = 0;
      long long k = 0;
      for (const auto& t : tables) {
        if (t.name == "TAB03002" || t.name == "TAB03003" || o_.rows.count(t.name)) continue;
        counts_[t.name] = rest / others + (k < rest % others ? 1 : 0);
        ++k;
      }
    }
  }

  // A column ID_nnnnn of another table points at the rows of TABnnnnn (keyed 1..count), as the
  // declaration's links do; 0 when there is no such table or it has no rows.
  long long parentRows(const std::string& table, const std::string& col) const {
    if (col.rfind("ID_", 0) != 0) return 0;
    const std::string parent = "TAB" + col.substr(3);
    const auto it = counts_.find(parent);
    return parent == table || it == counts_.end() ? 0 : it->second;
  }

  long long fill(ThrowStatusWrapper& st, ITransaction* tra, const std::string& table) {
    const long long count = counts_[table];
    if (count == 0) return 0;
    // Column names from the table itself, so the statement fits whatever the schema says.
    std::vector<std::string> cols;
    {
      const std::string q = "select * from " + table;
      IStatement* s = att_->prepare(&st, tra, 0, q.c_str(), 3, IStatement::PREPARE_PREFETCH_METADATA);
      IMessageMetadata* m = s->getOutputMetadata(&st);
      for (unsigned i = 0; i < m->getCount(&st); ++i) {
        std::string n = m->getField(&st, i);
        while (!n.empty() && n.back() == ' ') n.pop_back();
        cols.push_back(n);
      }
      m->release();
      s->free(&st);
    }
    std::string sql = "insert into " + table + " (";
    std::string marks;
    for (size_t i = 0; i < cols.size(); ++i) {
      sql += (i ? ", " : "") + cols[i];
      marks += i ? ", ?" : "?";
    }
    sql += ") values (" + marks + ")";
    IStatement* stmt = att_->prepare(&st, tra, 0, sql.c_str(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* in = stmt->getInputMetadata(&st);
    std::vector<unsigned char> buf(in->getMessageLength(&st));
    for (long long r = 1; r <= count; ++r) {
      std::fill(buf.begin(), buf.end(), 0);
      for (unsigned i = 0; i < cols.size(); ++i) setValue(st, tra, in, buf.data(), i, table, cols[i], r);
      stmt->execute(&st, tra, in, buf.data(), nullptr, nullptr);
    }
    in->release();
    stmt->free(&st);
    return count;
  }

  struct Date {
    int y, m, d;
  };

  Date refMonth(long long refIndex) const {  // 0-based within a company
    const long long months = (o_.firstYear * 12LL + (o_.firstMonth - 1)) + refIndex;
    return {static_cast<int>(months / 12), static_cast<int>(months % 12) + 1, 1};
  }

  void setValue(ThrowStatusWrapper& st, ITransaction* tra, IMessageMetadata* meta, unsigned char* buf, unsigned i,
                const std::string& table, const std::string& col, long long r) {
    unsigned char* p = buf + meta->getOffset(&st, i);
    short* null = reinterpret_cast<short*>(buf + meta->getNullOffset(&st, i));
    const unsigned type = meta->getType(&st, i) & ~1u;
    const unsigned len = meta->getLength(&st, i);
    const int scale = meta->getScale(&st, i);
    const bool nullable = meta->isNullable(&st, i);
    *null = 0;

    // What the program reads: company blocks and their reference periods.
    std::string text;
    bool haveText = false;
    long long integer = r;
    bool haveDate = false;
    Date date{};
    if (table == "TAB03002") {
      const Company& c = o_.companies[static_cast<size_t>((r - 1) % static_cast<long long>(o_.companies.size()))];
      if (col == "IE") text = c.ie, haveText = true;
      else if (col == "CNPJ") text = c.cnpj, haveText = true;
      else if (col == "RAZAO_SOCIAL") text = c.name, haveText = true;
      else if (col == "ID_HEADER") integer = 1;
    } else if (table == "TAB03003") {
      const long long perCompany = o_.references > 0 ? o_.references : 1;
      const long long within = (r - 1) % perCompany;
      if (col == "ID_03002") integer = (r - 1) / perCompany % static_cast<long long>(o_.companies.size()) + 1;
      else if (col == "INICIO" || col == "FIM") {
        date = refMonth(within);
        if (col == "FIM") date.d = daysIn(date.y, date.m);
        haveDate = true;
      } else if (col == "SUBSTITUI")
        text = o_.substitui[static_cast<size_t>(within) % o_.substitui.size()], haveText = true;
    }
    const bool special = haveText || haveDate || (table == "TAB03002" && col == "ID_HEADER") ||
                         (table == "TAB03003" && col == "ID_03002");
    if (!special && i > 0) {
      if (col == "ID_03003" && refs_ > 0) integer = (r - 1) % refs_ + 1;
      else if (col == "ID_03002") integer = (r - 1) % static_cast<long long>(o_.companies.size()) + 1;
      else if (const long long n = parentRows(table, col); n > 0) integer = (r - 1) % n + 1;
      else if (nullable && r % 11 == 0) {
        *null = -1;
        return;
      } else integer = (r * 7919) % 100000;
    }
    if (haveText && text.empty() && nullable && table == "TAB03002") {  // a company given without CNPJ
      *null = -1;
      return;
    }

    switch (type) {
      case SQL_VARYING:
      case SQL_TEXT: {
        if (!haveText) {
          if (i == 0) text = table + "_" + std::to_string(r);
          else if (len == 1) text = (r % 2) ? "S" : "N";
          else if (len == 2) text = "MG";
          else {
            text = kWords[r % 8] + " " + std::to_string(r);
            // Long free texts carry a line break, as observations typed by people do.
            if (len >= 200) text += "\r\nSegunda linha de " + kWords[(r + 3) % 8];
          }
        }
        if (text.size() > len) text.resize(len);
        if (type == SQL_VARYING) {
          *reinterpret_cast<unsigned short*>(p) = static_cast<unsigned short>(text.size());
          std::memcpy(p + 2, text.data(), text.size());
        } else {
          std::memset(p, ' ', len);
          std::memcpy(p, text.data(), text.size());
        }
        break;
      }
      case SQL_SHORT: *reinterpret_cast<ISC_SHORT*>(p) = static_cast<ISC_SHORT>(integer % 30000); break;
      case SQL_LONG:
        *reinterpret_cast<ISC_LONG*>(p) = static_cast<ISC_LONG>(scale < 0 ? integer * 37 % 100000 : integer);
        break;
      case SQL_INT64:
        *reinterpret_cast<ISC_INT64*>(p) = scale < 0 ? integer * 12345 % 100000000 - (r % 13 == 0 ? 5000 : 0) : integer;
        break;
      case SQL_FLOAT: *reinterpret_cast<float*>(p) = static_cast<float>(integer) * 0.25f; break;
      case SQL_DOUBLE: *reinterpret_cast<double*>(p) = static_cast<double>(integer) * 0.25; break;
      case SQL_TYPE_DATE:
        if (!haveDate) date = {2023, static_cast<int>(r % 12) + 1, static_cast<int>(r % 28) + 1};
        *reinterpret_cast<ISC_DATE*>(p) = util_->encodeDate(date.y, date.m, date.d);
        break;
      case SQL_TIMESTAMP: {
        if (!haveDate) date = {2023, static_cast<int>(r % 12) + 1, static_cast<int>(r % 28) + 1};
        auto* ts = reinterpret_cast<ISC_TIMESTAMP*>(p);
        ts->timestamp_date = util_->encodeDate(date.y, date.m, date.d);
        const unsigned secs = haveDate ? 0 : static_cast<unsigned>(r * 97 % 86400);
        ts->timestamp_time = util_->encodeTime(secs / 3600, secs / 60 % 60, secs % 60, 0);
        break;
      }
      case SQL_BLOB: {
        const std::string body = "Observa\xE7\xE3o " + std::to_string(r) + "\r\n" + kWords[r % 8] + " na segunda linha";
        ISC_QUAD id{};
        IBlob* blob = att_->createBlob(&st, tra, &id, 0, nullptr);
        blob->putSegment(&st, static_cast<unsigned>(body.size()), body.data());
        blob->close(&st);
        *reinterpret_cast<ISC_QUAD*>(p) = id;
        break;
      }
      case SQL_BOOLEAN: *p = static_cast<unsigned char>(r % 2); break;
      default: fail("tipo de coluna sem gerador: " + table + "." + col);
    }
  }

  const Options& o_;
  IMaster* master_ = nullptr;
  IUtil* util_ = nullptr;
  IAttachment* att_ = nullptr;
  long long refs_ = 0;
  std::map<std::string, long long> counts_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  Builder(o).run();
  return 0;
}
