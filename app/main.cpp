#include <QApplication>

#include "app/abertura.h"
#include "app/settings.h"
#include "registry/migration.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zide"));
  QApplication::setOrganizationName(QStringLiteral("Prefeitura Municipal de Tavarel"));
  InitSettingsPath();
  Migracao::instalar();
  Forms::get<Abertura>()->show();
  return app.exec();
}
