#pragma once
#include "app/placeholderform.h"

class FrmContador : public PlaceholderForm {
 public:
  FrmContador();
};
