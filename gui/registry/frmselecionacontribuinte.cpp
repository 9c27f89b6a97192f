#include "gui/registry/frmselecionacontribuinte.h"

#include "gui/widgets/interaction.h"
#include "registry/session.h"

FrmSelecionaContribuinte::FrmSelecionaContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_SelecionaContribuinte"),
                       QStringLiteral("Seleção de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja abrir:")) {
  // The company chosen last, in this run or an earlier one, is where the list starts.
  highlight(Session::current().lastSelectedIE());
}

void FrmSelecionaContribuinte::comEscolha(const Escolha& e) {
  Session::current().selectTaxpayer({e.ie, e.razaoSocial, e.chave});
  Session::current().rememberSelection();
  close();
  Session::current().requestRefresh();
}

void FrmSelecionaContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::NoIcon, QString());
  close();
}
