#include "gui/registry/frmselecionacontribuinte.h"

#include "gui/widgets/interaction.h"
#include "registry/session.h"

FrmSelecionaContribuinte::FrmSelecionaContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_SelecionaContribuinte"),
                       QStringLiteral("Seleção de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja abrir:")) {}

void FrmSelecionaContribuinte::comEscolha(const Escolha& e) {
  Session::current().selectTaxpayer({e.ie, e.razaoSocial, e.chave});
  close();
  Session::current().requestRefresh();
}

void FrmSelecionaContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::NoIcon, QString());
  close();
}
