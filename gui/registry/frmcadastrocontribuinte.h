#pragma once
#include "gui/registry/taxpayerform.h"

// frmtbl_CadastroContribuinte: edits the taxpayer chosen in frmtbl_atualizarContribuinte.
class FrmCadastroContribuinte : public TaxpayerForm {
  Q_OBJECT
 public:
  FrmCadastroContribuinte();
};
