#pragma once
#include <QString>

// Bringing the registry of an earlier installation (its Access diziz.mdb in the application folder)
// into diziz.db: offered once, at the first use of the local database, while diziz.db holds neither
// an accountant nor a taxpayer.
namespace Migracao {

struct Result {
  int contadores = 0;
  int contribuintes = 0;
};

// The earlier installation's file in the application folder.
QString arquivoAnterior();
// diziz.mdb present, diziz.db empty, and the offer not made before.
bool deveOferecer();
// Copies the accountant and the taxpayers, all or nothing. Throws AccessError or DbError.
Result trazer(const QString& mdbPath);
// Remembers that the offer was made and how the user answered. Throws DbError.
void marcar(const QString& resposta);

}  // namespace Migracao
