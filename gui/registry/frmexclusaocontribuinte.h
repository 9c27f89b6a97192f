#pragma once
#include "gui/registry/taxpayerlistform.h"

// frmtbl_exclusaoContribuinte: deletes the chosen taxpayer after asking.
class FrmExclusaoContribuinte : public TaxpayerListForm {
  Q_OBJECT
 public:
  FrmExclusaoContribuinte();

 protected:
  void comEscolha(const Escolha& e) override;
  void semEscolha() override;
};
