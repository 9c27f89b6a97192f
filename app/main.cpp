#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "base/settings.h"
#include "gui/main/abertura.h"
#include "gui/registry/migrationoffer.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zide"));
  QApplication::setOrganizationName(QStringLiteral("Prefeitura Municipal de Tavarel"));
  // Qt's own dialogs (file choice, password) speak the program's language.
  QTranslator qtPortuguese;
  if (qtPortuguese.load(QStringLiteral("qtbase_pt_BR"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtPortuguese);
  InitSettingsPath();
  Migracao::instalar();
  Forms::get<Abertura>()->show();
  return app.exec();
}
