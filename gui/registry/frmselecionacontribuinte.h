#pragma once
#include "gui/registry/taxpayerlistform.h"

// frmtbl_SelecionaContribuinte: the chosen taxpayer becomes the main window's selection.
class FrmSelecionaContribuinte : public TaxpayerListForm {
  Q_OBJECT
 public:
  FrmSelecionaContribuinte();

 protected:
  void comEscolha(const Escolha& e) override;
  void semEscolha() override;
};
