#pragma once
#include "app/placeholderform.h"

class FrmCriaContribuinte : public PlaceholderForm {
 public:
  FrmCriaContribuinte();
};
class FrmCadastroContribuinte : public PlaceholderForm {
 public:
  FrmCadastroContribuinte();
};
class FrmSelecionaContribuinte : public PlaceholderForm {
 public:
  FrmSelecionaContribuinte();
};
class FrmAtualizarContribuinte : public PlaceholderForm {
 public:
  FrmAtualizarContribuinte();
};
class FrmExclusaoContribuinte : public PlaceholderForm {
 public:
  FrmExclusaoContribuinte();
};
