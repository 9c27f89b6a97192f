// zide-cli validar: check digits of CPF, CNPJ or a state registration, for texts given as arguments
// or one per line on standard input.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "validation/validators.h"

namespace {

constexpr char kUsage[] =
    "Uso: zide-cli validar cpf|cnpj [TEXTO...]\n"
    "     zide-cli validar ie UF [TEXTO...]\n"
    "\n"
    "Confere os dígitos verificadores de CPF, CNPJ ou inscrição estadual.\n"
    "Sem TEXTO, lê um texto por linha da entrada padrão.\n"
    "Para cada texto escreve uma linha: o texto, uma tabulação e \"válido\" ou \"inválido\".\n"
    "\n"
    "UF: AC AL AM AP BA CE DF ES GO MA MG MS MT PA PB PE PI PR RJ RN RO RR RS SC SE SP TO\n"
    "\n"
    "Código de saída: 0 todos válidos, 1 algum inválido, 2 erro de uso,\n"
    "3 erro de leitura ou de escrita.\n";

constexpr int kExitSomeInvalid = 1;

// Output gathered in a large buffer and written in few calls.
class Output {
 public:
  Output() { buf_.reserve(kFlushAt + 4096); }
  void line(std::string_view text, bool valid) {
    buf_.append(text);
    buf_.append(valid ? "\tválido\n" : "\tinválido\n");
    if (buf_.size() >= kFlushAt) flush();
  }
  // False once any write failed.
  bool flush() {
    if (ok_ && !buf_.empty()) ok_ = std::fwrite(buf_.data(), 1, buf_.size(), stdout) == buf_.size();
    buf_.clear();
    return ok_;
  }
  bool finish() { return flush() && std::fflush(stdout) == 0 && ok_; }

 private:
  static constexpr size_t kFlushAt = 1 << 18;
  std::string buf_;
  bool ok_ = true;
};

struct Checker {
  enum class Kind { Cpf, Cnpj, Ie } kind;
  std::string_view uf;
  bool operator()(std::string_view text) const {
    switch (kind) {
      case Kind::Cpf: return CPFValida(text);
      case Kind::Cnpj: return CNPJValida(text);
      case Kind::Ie: return IEValida(text, uf);
    }
    return false;
  }
};

// One text per line; "\n" or "\r\n" ends a line, and a last line without its end still counts.
// The "\r" is dropped because it is not part of the text (and would change the RO rule, which
// looks at the number of characters).
bool checkLines(const Checker& check, Output& out, bool& allValid) {
  std::vector<char> buf(size_t(1) << 20);
  size_t have = 0;      // bytes in buf
  size_t searched = 0;  // bytes already known to hold no '\n'
  auto handleLine = [&](const char* begin, const char* end) {
    if (end > begin && end[-1] == '\r') --end;
    const std::string_view text(begin, size_t(end - begin));
    const bool ok = check(text);
    allValid = allValid && ok;
    out.line(text, ok);
  };
  for (;;) {
    if (have == buf.size()) buf.resize(buf.size() * 2);  // one line longer than the buffer
    const size_t n = std::fread(buf.data() + have, 1, buf.size() - have, stdin);
    if (n == 0) break;
    have += n;
    const char* start = buf.data();
    const char* end = buf.data() + have;
    const char* from = buf.data() + searched;
    while (const void* nl = std::memchr(from, '\n', size_t(end - from))) {
      const char* eol = static_cast<const char*>(nl);
      handleLine(start, eol);
      start = from = eol + 1;
    }
    // Keep the unfinished line at the front for the next block.
    const size_t rest = size_t(end - start);
    std::memmove(buf.data(), start, rest);
    have = rest;
    searched = rest;
  }
  if (std::ferror(stdin)) return false;
  if (have > 0) handleLine(buf.data(), buf.data() + have);
  return true;
}

int run(CommandArgs args) {
  if (args.empty()) return usageError(kValidar, "falta o tipo de documento (cpf, cnpj ou ie).");
  const std::string_view type = args[0];
  if (isHelpRequest(type)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  Checker check{};
  CommandArgs texts = args.subspan(1);
  if (type == "cpf") {
    check.kind = Checker::Kind::Cpf;
  } else if (type == "cnpj") {
    check.kind = Checker::Kind::Cnpj;
  } else if (type == "ie") {
    if (args.size() < 2) return usageError(kValidar, "falta a UF da inscrição estadual.");
    check.kind = Checker::Kind::Ie;
    check.uf = args[1];
    // The validator lets a code it does not know pass as exempt; here that would only hide a typo.
    if (!IEUnidadeConhecida(check.uf))
      return usageError(
          kValidar, "UF desconhecida: \"" + std::string(check.uf) + "\" (use as letras maiúsculas da lista abaixo).");
    texts = args.subspan(2);
  } else {
    return usageError(kValidar, "tipo de documento desconhecido: \"" + std::string(type) + "\" (use cpf, cnpj ou ie).");
  }

  Output out;
  bool allValid = true;
  if (texts.empty()) {
    if (!checkLines(check, out, allValid)) {
      out.finish();
      std::fputs("zide-cli: erro ao ler a entrada padrão.\n", stderr);
      return kExitIo;
    }
  } else {
    for (const char* text : texts) {
      const bool ok = check(text);
      allValid = allValid && ok;
      out.line(text, ok);
    }
  }
  if (!out.finish()) {
    std::fputs("zide-cli: erro ao escrever a saída.\n", stderr);
    return kExitIo;
  }
  return allValid ? kExitOk : kExitSomeInvalid;
}

}  // namespace

const Command kValidar{"validar", run, "confere CPF, CNPJ e inscrições estaduais", kUsage};
