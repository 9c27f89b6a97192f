#pragma once
#include <QString>

// Bringing the registry of an earlier installation (its Access diziz.mdb in the application folder)
// into diziz.db: offered once, at the first use of the local database, while diziz.db holds neither
// an accountant nor a taxpayer.
namespace Migracao {

struct Resultado {
  int contadores = 0;
  int contribuintes = 0;
};

// The earlier installation's file in the application folder.
QString arquivoAnterior();
// diziz.mdb present, diziz.db empty, and the offer not made before.
bool deveOferecer();
// Copies the accountant and the taxpayers, all or nothing. Throws AccessError or DbError.
Resultado trazer(const QString& mdbPath);
// The offer itself: asks, brings over, says how many. Marks the offer as made unless it failed.
void oferecer();
// Makes oferecer() run at the first use of the local database (the program calls it at start).
void instalar();

}  // namespace Migracao
