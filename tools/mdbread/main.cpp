// zide-mdbread ARQUIVO TABELA: writes one table of an Access (.mdb) file on standard output in the
// format of mdbdump.h. The program runs it with a time and memory limit and reads only what it
// prints: libmdb on a damaged file may crash, loop or read out of bounds, here and nowhere else.
//
// Exit status: 0 the whole table was written; 1 wrong arguments; 2 not an Access file (or an
// unreadable catalog); 3 no such table (or unreadable columns); 4 standard output failed.

// glib first: mdbtools.h includes it inside extern "C", which breaks its C++ templates otherwise.
#include <glib.h>
#include <mdbtools.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mdbdump.h"

namespace {

struct HandleCloser {
  void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableFreer {
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "zide-mdbread: %s\n", message.c_str());
  return code;
}

bool put(const std::string& text) { return std::fwrite(text.data(), 1, text.size(), stdout) == text.size(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail(1, "uso: zide-mdbread ARQUIVO TABELA");
  const std::string path = argv[1];
  std::string table = argv[2];

  std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) return fail(2, "não é um arquivo do Access: " + path);
  if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) return fail(2, "catálogo ilegível: " + path);
  mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
  mdb_set_boolean_fmt_numbers(mdb.get());

  std::unique_ptr<MdbTableDef, TableFreer> t(mdb_read_table_by_name(mdb.get(), table.data(), MDB_TABLE));
  if (!t) return fail(3, "tabela " + table + " não encontrada");
  if (!mdb_read_columns(t.get())) return fail(3, "colunas ilegíveis em " + table);

  const unsigned int n = t->num_cols;
  const size_t bindSize = mdb->bind_size ? mdb->bind_size : MDB_BIND_SIZE;
  std::vector<std::vector<char>> values(n, std::vector<char>(bindSize + 1, '\0'));
  std::vector<int> lengths(n, 0);
  std::string out(mdbdump::kHeader);
  mdbdump::columnCount(out, n);
  for (unsigned int i = 0; i < n; ++i) {
    const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
    mdbdump::field(out, std::string_view(col->name, strnlen(col->name, sizeof col->name)));
    mdb_bind_column(t.get(), static_cast<int>(i + 1), values[i].data(), &lengths[i]);
  }
  if (!put(out)) return fail(4, "falha ao escrever a saída");

  mdb_rewind_table(t.get());
  while (mdb_fetch_row(t.get())) {
    out.assign(mdbdump::kRow);
    for (unsigned int i = 0; i < n; ++i) {
      // A length libmdb reports beyond the bound buffer is cut to what the buffer holds.
      const size_t len = std::min<size_t>(static_cast<size_t>(std::max(lengths[i], 0)), bindSize);
      mdbdump::field(out, std::string_view(values[i].data(), len));
    }
    if (!put(out)) return fail(4, "falha ao escrever a saída");
  }
  if (!put(std::string(mdbdump::kEnd)) || std::fflush(stdout) != 0) return fail(4, "falha ao escrever a saída");
  return 0;
}
