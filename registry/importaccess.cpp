#include "registry/importaccess.h"

// glib first: mdbtools.h includes it inside extern "C", which breaks its C++ templates otherwise.
#include <glib.h>
#include <mdbtools.h>

#include <QFile>
#include <QFileInfo>
#include <memory>
#include <vector>

namespace {
struct HandleCloser {
  void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableFreer {
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
}  // namespace

QString AccessTable::value(int row, const QString& column) const {
  int found = -1;
  for (int i = 0; i < columns.size() && found < 0; ++i)
    if (columns[i].compare(column, Qt::CaseInsensitive) == 0) found = i;
  if (found < 0 || row < 0 || row >= rows.size() || found >= rows[row].size()) return QString();
  return rows[row][found];
}

AccessTable ReadAccessTable(const QString& path, const QString& table) {
  if (!QFileInfo(path).isFile()) throw AccessError(QStringLiteral("Arquivo não encontrado: %1").arg(path));
  const QByteArray file = QFile::encodeName(path);
  std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(file.constData(), MDB_NOFLAGS));
  if (!mdb) throw AccessError(QStringLiteral("Não é um arquivo do Access: %1").arg(path));
  if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) throw AccessError(QStringLiteral("Catálogo ilegível: %1").arg(path));
  mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
  mdb_set_boolean_fmt_numbers(mdb.get());

  QByteArray name = table.toUtf8();
  std::unique_ptr<MdbTableDef, TableFreer> t(mdb_read_table_by_name(mdb.get(), name.data(), MDB_TABLE));
  if (!t) throw AccessError(QStringLiteral("Tabela %1 não encontrada em %2").arg(table, path));
  if (!mdb_read_columns(t.get())) throw AccessError(QStringLiteral("Colunas ilegíveis em %1").arg(table));

  AccessTable out;
  const unsigned int n = t->num_cols;
  const size_t bindSize = mdb->bind_size ? mdb->bind_size : MDB_BIND_SIZE;
  std::vector<std::vector<char>> values(n, std::vector<char>(bindSize + 1, '\0'));
  std::vector<int> lengths(n, 0);
  for (unsigned int i = 0; i < n; ++i) {
    const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
    out.columns.append(QString::fromUtf8(col->name));
    mdb_bind_column(t.get(), static_cast<int>(i + 1), values[i].data(), &lengths[i]);
  }
  mdb_rewind_table(t.get());
  while (mdb_fetch_row(t.get())) {
    QStringList row;
    row.reserve(static_cast<qsizetype>(n));
    for (unsigned int i = 0; i < n; ++i) {
      const int len = std::min<int>(std::max(lengths[i], 0), static_cast<int>(bindSize));
      row.append(QString::fromUtf8(values[i].data(), len));
    }
    out.rows.append(row);
  }
  return out;
}
