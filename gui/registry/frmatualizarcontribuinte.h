#pragma once
#include "gui/registry/taxpayerlistform.h"

// frmtbl_atualizarContribuinte: opens the chosen taxpayer in frmtbl_CadastroContribuinte.
class FrmAtualizarContribuinte : public TaxpayerListForm {
  Q_OBJECT
 public:
  FrmAtualizarContribuinte();

 protected:
  void comEscolha(const Escolha& e) override;
  void semEscolha() override;
};
