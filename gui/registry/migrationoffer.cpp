#include "gui/registry/migrationoffer.h"

#include "gui/widgets/interaction.h"
#include "registry/localdb.h"
#include "registry/migration.h"

namespace Migracao {
namespace {

QString contagem(int n, const char* singular, const char* plural) {
  return QString::number(n) + QLatin1Char(' ') + QString::fromUtf8(n == 1 ? singular : plural);
}

}  // namespace

void oferecer() {
  try {
    if (!deveOferecer()) return;
  } catch (const std::exception&) {
    return;  // the window that opened the registry reports its own failure
  }
  const QMessageBox::StandardButton resposta = MsgBox(
      nullptr,
      QStringLiteral("Foi encontrado nesta pasta o cadastro de uma instalação anterior do programa (diziz.mdb).\r\n\r\n"
                     "Deseja trazer o contador e os contribuintes cadastrados nele?"),
      QMessageBox::Question, kMsgTitle, QMessageBox::Yes | QMessageBox::No);
  if (resposta != QMessageBox::Yes) {
    try {
      marcar(QStringLiteral("recusado"));
    } catch (const std::exception&) {}
    return;
  }
  try {
    const Result r = trazer(arquivoAnterior());
    MsgBox(nullptr,
           QStringLiteral("Cadastro da instalação anterior trazido: ") +
               contagem(r.contadores, "contador", "contadores") + QStringLiteral(" e ") +
               contagem(r.contribuintes, "contribuinte", "contribuintes") + QLatin1Char('.'),
           QMessageBox::Information, kMsgTitle);
  } catch (const std::exception& e) {
    // Nothing was written; the offer stays open for the next start.
    MsgBox(nullptr,
           QStringLiteral("Não foi possível trazer o cadastro da instalação anterior (diziz.mdb):\r\n") +
               QString::fromUtf8(e.what()),
           QMessageBox::Critical, kMsgTitle);
  }
}

void instalar() { LocalDatabase::setFirstUseHook(&oferecer); }

}  // namespace Migracao
