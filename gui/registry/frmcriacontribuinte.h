#pragma once
#include "gui/registry/taxpayerform.h"

// frmtbl_CriaContribuinte: registers a new taxpayer; also the door to the key retrieval with a
// digital certificate and to the company import.
class FrmCriaContribuinte : public TaxpayerForm {
  Q_OBJECT
 public:
  FrmCriaContribuinte();
  // "Gerar chave através do Cert. Digital": the certificate-based key retrieval.
  void Command1_Click();
  // "Importação de Empresas": opens the company import window.
  void Command2_Click();
};
