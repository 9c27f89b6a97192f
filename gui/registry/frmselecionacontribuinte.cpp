#include "gui/registry/frmselecionacontribuinte.h"

#include "gui/main/principal.h"
#include "gui/widgets/interaction.h"

FrmSelecionaContribuinte::FrmSelecionaContribuinte()
    : TaxpayerListForm(QStringLiteral("frmtbl_SelecionaContribuinte"),
                       QStringLiteral("Seleção de Contribuinte - Prefeitura Municipal de Tavarel"),
                       QStringLiteral("Selecione o Contribuinte que deseja abrir:")) {}

void FrmSelecionaContribuinte::comEscolha(const Escolha& e) {
  Principal* p = Forms::get<Principal>();
  p->setSelectedTaxpayer(e.ie, e.razaoSocial, e.chave);
  close();
  p->RecebeDadosServer();
}

void FrmSelecionaContribuinte::semEscolha() {
  MsgBox(this, QStringLiteral("É necessário cadastrar empresa"), QMessageBox::NoIcon, QString());
  close();
}
