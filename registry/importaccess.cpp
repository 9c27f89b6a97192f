#include "registry/importaccess.h"

#include <QFileInfo>

#include "base/appfolder.h"
#include "base/sanitizer.h"

namespace {

// Far above what reading a real export or registry takes (milliseconds, a few MiB).
constexpr int kTimeoutMs = 20000;
#if ZIDE_ASAN
// AddressSanitizer reserves terabytes of address space at start: a helper built with it cannot
// run under an address-space limit at all. Sanitizer builds keep the other limits.
constexpr quint64 kMemoryBytes = 0;
#else
constexpr quint64 kMemoryBytes = 512ULL * 1024 * 1024;
#endif
constexpr qint64 kOutputBytes = 64LL * 1024 * 1024;

const AccessReader* g_reader = nullptr;

[[noreturn]] void malformed(const char* what) {
  throw AccessError(QStringLiteral("Saída do leitor de arquivos do Access malformada: %1").arg(QLatin1String(what)));
}

// Reads the helper's output front to back.
class DumpReader {
 public:
  explicit DumpReader(const QByteArray& dump) : d_(dump) {}

  bool atEnd() const { return pos_ == d_.size(); }
  bool take(const char* literal) {
    const QByteArrayView lit(literal);
    if (QByteArrayView(d_).sliced(pos_).startsWith(lit)) {
      pos_ += lit.size();
      return true;
    }
    return false;
  }
  // A decimal without sign or leading zeros, ended by `end`.
  qint64 number(char end) {
    qint64 v = 0;
    const qsizetype start = pos_;
    while (pos_ < d_.size() && d_[pos_] >= '0' && d_[pos_] <= '9') {
      if (pos_ - start >= 12) malformed("número longo demais");
      v = v * 10 + (d_[pos_] - '0');
      ++pos_;
    }
    if (pos_ == start) malformed("número esperado");
    if (d_[start] == '0' && pos_ - start > 1) malformed("número com zeros à esquerda");
    if (pos_ >= d_.size() || d_[pos_] != end) malformed("separador esperado");
    ++pos_;
    return v;
  }
  QString field() {
    const qint64 len = number(':');
    if (len > d_.size() - pos_ - 1) malformed("valor cortado");
    const QString v = QString::fromUtf8(d_.constData() + pos_, static_cast<qsizetype>(len));
    pos_ += static_cast<qsizetype>(len);
    if (d_[pos_] != '\n') malformed("fim de valor esperado");
    ++pos_;
    return v;
  }
  qsizetype remaining() const { return d_.size() - pos_; }

 private:
  const QByteArray& d_;
  qsizetype pos_ = 0;
};

}  // namespace

QString AccessTable::value(int row, const QString& column) const {
  int found = -1;
  for (int i = 0; i < columns.size() && found < 0; ++i)
    if (columns[i].compare(column, Qt::CaseInsensitive) == 0) found = i;
  if (found < 0 || row < 0 || row >= rows.size() || found >= rows[row].size()) return QString();
  return rows[row][found];
}

AccessTable ParseAccessDump(const QByteArray& dump) {
  DumpReader in(dump);
  if (!in.take("zide-mdbread 1\n")) malformed("cabeçalho");
  if (!in.take("c")) malformed("número de colunas esperado");
  const qint64 n = in.number('\n');
  // Each column takes at least three bytes ("0:\n"): a count beyond that is a lie.
  if (n > in.remaining() / 3) malformed("colunas demais");
  AccessTable t;
  for (qint64 i = 0; i < n; ++i) t.columns.append(in.field());
  while (in.take("r\n")) {
    QStringList row;
    row.reserve(static_cast<qsizetype>(n));
    for (qint64 i = 0; i < n; ++i) row.append(in.field());
    t.rows.append(row);
  }
  if (!in.take("f\n") || !in.atEnd()) malformed("fim da tabela");
  return t;
}

AccessReader AccessReader::standard() {
  AccessReader r;
  // A helper runs only from the installation, never from the data folder.
  r.program = AppFolder::helper(QStringLiteral("zide-mdbread"));
  r.limits.timeoutMs = kTimeoutMs;
  r.limits.memoryBytes = kMemoryBytes;
  r.limits.outputBytes = kOutputBytes;
  return r;
}

void InstallAccessReader(const AccessReader* reader) { g_reader = reader; }

AccessTable ReadAccessTable(const QString& path, const QString& table) {
  if (!QFileInfo(path).isFile()) throw AccessError(QStringLiteral("Arquivo não encontrado: %1").arg(path));
  const AccessReader reader = g_reader ? *g_reader : AccessReader::standard();
  const ProcessResult r = ProcessRunner::runLimited(reader.program, {path, table}, reader.limits);
  switch (r.status) {
    case ProcessResult::FailedToStart:
      throw AccessError(QStringLiteral("Não foi possível executar o leitor de arquivos do Access (%1): %2")
                            .arg(reader.program, r.errorOutput));
    case ProcessResult::TimedOut:
      throw AccessError(QStringLiteral("A leitura de %1 não terminou em %2 segundos e foi interrompida.")
                            .arg(path)
                            .arg((reader.limits.timeoutMs + 999) / 1000));
    case ProcessResult::Crashed:
      throw AccessError(r.outputCut ? QStringLiteral("A tabela %1 de %2 é grande demais.").arg(table, path)
                                    : QStringLiteral("Arquivo danificado: a leitura de %1 falhou.").arg(path));
    case ProcessResult::Finished: break;
  }
  if (r.exitCode != 0) {
    QString why = r.errorOutput.section(QLatin1Char('\n'), -1);
    if (why.startsWith(QLatin1String("zide-mdbread: "))) why = why.mid(14);
    if (why.isEmpty()) why = QStringLiteral("código de saída %1").arg(r.exitCode);
    throw AccessError(QStringLiteral("%1: %2").arg(path, why));
  }
  return ParseAccessDump(r.output);
}
