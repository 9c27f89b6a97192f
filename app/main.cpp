#include <QApplication>

#include "base/settings.h"
#include "gui/main/abertura.h"
#include "gui/registry/migrationoffer.h"
#include "gui/widgets/portuguese.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zide"));
  QApplication::setOrganizationName(QStringLiteral("Prefeitura Municipal de Tavarel"));
  UsePortuguese();
  InitSettingsPath();
  Migracao::instalar();
  Forms::get<Abertura>()->show();
  return app.exec();
}
