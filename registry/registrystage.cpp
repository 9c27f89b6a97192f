#include "registry/registrystage.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include "registry/localdb.h"

RegistryStage ReadRegistryStage() {
  const QString file = LocalDatabase::path();
  if (!QFileInfo(file).isFile()) return RegistryStage::SemContador;
  const QString name = QStringLiteral("estagio-") + QUuid::createUuid().toString(QUuid::Id128);
  RegistryStage stage = RegistryStage::Pronto;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (db.open()) {
      auto count = [&db](const char* table) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select count(*) from ") + QLatin1String(table)) || !q.next()) return -1;
        return q.value(0).toInt();
      };
      const int contadores = count("tblContador");
      const int contribuintes = count("tblContribuinte");
      if (contadores == 0) stage = RegistryStage::SemContador;
      else if (contadores > 0 && contribuintes == 0) stage = RegistryStage::SemContribuinte;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return stage;
}
