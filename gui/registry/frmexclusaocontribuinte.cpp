#include "gui/registry/frmexclusaocontribuinte.h"

#include "gui/widgets/interaction.h"
#include "registry/localdb.h"
#include "registry/taxpayerstore.h"

FrmExclusaoContribuinte::FrmExclusaoContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_exclusaoContribuinte"),
                       QStringLiteral("Exclusão de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja excluir:")) {}

void FrmExclusaoContribuinte::comEscolha(const Escolha& e) {
  if (MsgBox(this, QStringLiteral("Deseja realmente excluir este contribuinte"), QMessageBox::NoIcon, kMsgTitle,
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::No)
    return;
  try {
    LocalDatabase::Connection db;
    TaxpayerStore::remove(db, e.ie);
  } catch (const DbError&) {
    MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::Information, kMsgTitle);
    return;
  }
  MsgBox(this, QStringLiteral("Contribuinte Excluído"), QMessageBox::Information, kMsgTitle);
  close();
}

void FrmExclusaoContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário selecionar a empresa"), QMessageBox::NoIcon, QString());
}
