// Speed of CPFValida, CNPJValida and IEValida (each unit), and of zide-cli over a 1,000,000-line file.
// Usage: bench_validation [path-to-zide-cli]   (default: zide-cli beside this program)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "validation/validators.h"

#include "../benchhelp.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kUnits[] = {"AC", "AL", "AM", "AP", "BA", "CE", "DF", "ES", "GO", "MA", "MG", "MS", "MT", "PA",
                              "PB", "PE", "PI", "PR", "RJ", "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO"};

// Texts shaped like masked fields: digits with the usual punctuation.
std::vector<std::string> texts(std::mt19937& gen, const char* mask, size_t count) {
  std::vector<std::string> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string t = mask;
    for (char& c : t)
      if (c == '#') c = char('0' + gen() % 10);
    out.push_back(t);
  }
  return out;
}

// Calls per second of check over the texts, repeated for at least a quarter of a second.
double rate(const std::vector<std::string>& in, const std::function<bool(std::string_view)>& check, size_t& valid) {
  size_t calls = 0;
  valid = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (const std::string& t : in) valid += check(t);
    calls += in.size();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < 0.25);
  return double(calls) / elapsed;
}

// The plain-function path, without std::function in between, for the headline figures.
template <typename F>
double directRate(const std::vector<std::string>& in, F check) {
  size_t calls = 0, sink = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (const std::string& t : in) sink += check(std::string_view(t));
    calls += in.size();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < 0.25);
  if (sink == size_t(-1)) std::puts("");
  return double(calls) / elapsed;
}

double timeCommand(const std::string& command) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  if (status == -1) std::printf("  (could not run: %s)\n", command.c_str());
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (BenchHelp(argc, argv,
                "Uso: bench_validation [ZIDE-CLI]\n"
                "Mede validações por segundo de CPFValida, CNPJValida e IEValida (cada UF) com 100000 textos\n"
                "aleatórios, e o zide-cli (o do build, ou ZIDE-CLI) validando um milhão de linhas.\n"))
    return 0;
  namespace fs = std::filesystem;
  std::mt19937 gen(42);
  const auto cpfs = texts(gen, "###.###.###-##", 100000);
  const auto cnpjs = texts(gen, "##.###.###/####-##", 100000);

  std::printf("Validations per second (100,000 random masked texts, repeated):\n");
  std::printf("  %-14s %12.0f\n", "CPFValida", directRate(cpfs, [](std::string_view t) { return CPFValida(t); }));
  std::printf("  %-14s %12.0f\n", "CNPJValida", directRate(cnpjs, [](std::string_view t) { return CNPJValida(t); }));
  const auto ies = texts(gen, "###.###.###.###", 100000);
  for (const char* uf : kUnits) {
    size_t valid = 0;
    const double r = rate(
        ies, [uf](std::string_view t) { return IEValida(t, std::string_view(uf)); }, valid);
    std::printf("  IEValida %-5s %12.0f\n", uf, r);
  }
  const std::string longText(1 << 20, '7');
  std::printf("  %-14s %12.0f  (1 MB text of digits)\n", "IEValida RO",
              directRate({longText}, [](std::string_view t) { return IEValida(t, "RO"); }));
  std::printf("  %-14s %12.0f  (1 MB text of digits)\n", "CPFValida",
              directRate({longText}, [](std::string_view t) { return CPFValida(t); }));

  const fs::path cli = argc > 1 ? fs::path(argv[1]) : fs::canonical("/proc/self/exe").parent_path() / "zide-cli";
  if (!fs::exists(cli)) {
    std::printf("zide-cli not found at %s\n", cli.c_str());
    return 1;
  }
  const fs::path dir = fs::temp_directory_path() / ("bench_validation." + std::to_string(gen()));
  fs::create_directories(dir);
  const fs::path cpfFile = dir / "cpf.txt", ieFile = dir / "ie.txt";
  {
    std::ofstream a(cpfFile, std::ios::binary), b(ieFile, std::ios::binary);
    for (const auto& t : texts(gen, "###.###.###-##", 1000000)) a << t << '\n';
    for (const auto& t : texts(gen, "###.###.###.###", 1000000)) b << t << '\n';
  }
  std::printf("\nzide-cli over 1,000,000 lines (output to a file):\n");
  const std::string out = (dir / "out.txt").string();
  const struct {
    const char* args;
    const fs::path* file;
  } runs[] = {{"validar cpf", &cpfFile},
              {"validar cnpj", &cpfFile},
              {"validar ie SP", &ieFile},
              {"validar ie RO", &ieFile},
              {"validar ie MG", &ieFile}};
  for (const auto& r : runs) {
    const double s = timeCommand("'" + cli.string() + "' " + r.args + " < '" + r.file->string() + "' > '" + out + "'");
    std::printf("  %-16s %7.3f s  (%.3f s per 100,000 lines)\n", r.args, s, s / 10);
  }
  const double startup = timeCommand("'" + cli.string() + "' validar cpf 1 > /dev/null");
  std::printf("  one text as argument (start-up): %.4f s\n", startup);
  fs::remove_all(dir);
  return 0;
}
