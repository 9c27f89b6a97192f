// zide-cli: the client's work without windows, one subcommand per task.
//
// A new command lives in its own cmd_<name>.cpp, which defines a `const Command` (name, function,
// summary, usage); declare it in commands.h, add it to kCommands below and its source to
// CMakeLists.txt. Commands set up whatever they need themselves (a QCoreApplication, say), so that
// quick ones like `validar` pay for nothing they do not use.
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/appfolder.h"
#include "commands.h"
#include "transmission/transmissions.h"

namespace {

const Command* const kCommands[] = {
    &kValidar, &kTransmissoes, &kCertificados, &kDeclaracao, &kEnvios, &kEnviar,
};

void printGeneralUsage(std::FILE* to) {
  std::string text = "Uso: zide-cli COMANDO [ARGUMENTOS...]\n\nComandos:\n";
  for (const Command* c : kCommands) {
    std::string name = c->name;
    name.resize(std::max<size_t>(name.size() + 2, 14), ' ');
    text += "  " + name + c->summary + "\n";
  }
  text += "\nAjuda de um comando: zide-cli COMANDO --ajuda\nVersão do programa: zide-cli --version\n";
  std::fputs(text.c_str(), to);
}

// The installed version file's text; found from the executable, so it needs the application object.
int printVersion(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const auto version = Transmissions::ReadVersionFile();
  if (!version) {
    std::fputs("zide-cli: arquivo de versão info.dip não encontrado.\n", stderr);
    return kExitIo;
  }
  std::printf("zide-cli %s\n", version->trimmed().toUtf8().constData());
  return kExitOk;
}

}  // namespace

CliApp::CliApp() : app_(argc_, argv_) {
  QCoreApplication::setApplicationName(QStringLiteral("zide"));
  QCoreApplication::setOrganizationName(QStringLiteral("Prefeitura Municipal de Tavarel"));
}

bool isHelpRequest(std::string_view arg) {
  return arg == "-h" || arg == "--help" || arg == "--ajuda" || arg == "ajuda";
}

int usageError(const Command& command, std::string_view message) {
  std::string text = "zide-cli: ";
  text += message;
  text += "\n\n";
  text += command.usage;
  std::fputs(text.c_str(), stderr);
  return kExitUsage;
}

int main(int argc, char** argv) {
  AppFolder::restrictNewFiles();
  if (argc < 2) {
    std::fputs("zide-cli: falta o comando.\n\n", stderr);
    printGeneralUsage(stderr);
    return kExitUsage;
  }
  const std::string_view name = argv[1];
  if (name == "--version") return printVersion(argc, argv);
  if (isHelpRequest(name)) {
    printGeneralUsage(stdout);
    return kExitOk;
  }
  for (const Command* c : kCommands)
    if (name == c->name) return c->run(CommandArgs(argv + 2, size_t(argc - 2)));
  std::fprintf(stderr, "zide-cli: comando desconhecido: \"%s\".\n\n", argv[1]);
  printGeneralUsage(stderr);
  return kExitUsage;
}
