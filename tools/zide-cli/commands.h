#pragma once
#include <QCoreApplication>
#include <span>
#include <string_view>

// A command receives the arguments that follow its name and returns the exit status.
using CommandArgs = std::span<char* const>;
using CommandFn = int (*)(CommandArgs args);

struct Command {
  const char* name;
  CommandFn run;
  const char* summary;  // one line for the general help
  const char* usage;    // the command's own help, printed on a usage error
};

// Exit statuses shared by the commands.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitIo = 3;

// Prints "zide-cli: <message>" and the command's usage on stderr; returns kExitUsage.
int usageError(const Command& command, std::string_view message);
// True for -h, --help, --ajuda and ajuda.
bool isHelpRequest(std::string_view arg);

// The Qt application a command needs once its arguments are read, named as the window program so
// that the folders Qt derives from the name (the certificate folder) are the program's own.
class CliApp {
 public:
  CliApp();

 private:
  int argc_ = 1;
  char name_[9] = "zide-cli";
  char* argv_[2] = {name_, nullptr};
  QCoreApplication app_;
};

// The commands (one source file each).
extern const Command kValidar;
extern const Command kTransmissoes;
extern const Command kCertificados;
extern const Command kDeclaracao;
extern const Command kEnvios;
extern const Command kEnviar;
