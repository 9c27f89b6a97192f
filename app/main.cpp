#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "base/appfolder.h"
#include "base/instancelock.h"
#include "base/settings.h"
#include "gui/main/abertura.h"
#include "gui/registry/migrationoffer.h"
#include "gui/widgets/interaction.h"
#include "gui/widgets/portuguese.h"
#include "registry/session.h"
#include "transmission/intake.h"
#include "transmission/transmissions.h"

namespace {

// "zide --version": the installed version file, without a display.
int printVersion(int argc, char** argv) {
  QCoreApplication core(argc, argv);
  const auto version = Transmissions::ReadVersionFile();
  if (!version) {
    std::fputs("zide: arquivo de versão info.dip não encontrado.\n", stderr);
    return 1;
  }
  std::printf("zide %s\n", version->trimmed().toUtf8().constData());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  AppFolder::restrictNewFiles();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return printVersion(argc, argv);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zide"));
  QApplication::setOrganizationName(QStringLiteral("Prefeitura Municipal de Tavarel"));
  UsePortuguese();
  QString error;
  if (!AppFolder::prepare(&error)) {
    MsgBox(nullptr, error, QMessageBox::Critical);
    return 1;
  }
  // A second copy on the same folder would share the working files; it ends before touching any.
  InstanceLock lock;
  if (!lock.acquire()) {
    std::fprintf(stderr, "zide: %s\n", qPrintable(InstanceLock::busyMessage().simplified()));
    // exit() also ends the message box's own loop (quit() would wait for it).
    if (qEnvironmentVariableIsSet("ZIDE_QUIT_WHEN_SHOWN"))
      QTimer::singleShot(0, &app, [] { QCoreApplication::exit(1); });
    MsgBox(nullptr, InstanceLock::busyMessage(), QMessageBox::Warning);
    return 1;
  }
  InitSettingsPath();
  // A run that ended during a preparation (closed, killed, power lost) left a copy of a declaration behind.
  Intake::removeLeftovers(Intake::defaultSettings());
  Session::current().restoreLastSelection();
  Migracao::instalar();
  Forms::get<Abertura>()->show();
  // A start that ends by itself once the first window is up (checks of an installation).
  if (qEnvironmentVariableIsSet("ZIDE_QUIT_WHEN_SHOWN")) QTimer::singleShot(0, &app, &QCoreApplication::quit);
  return app.exec();
}
