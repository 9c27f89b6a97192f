#pragma once
#include "app/placeholderform.h"

class FrmUploadSimples : public PlaceholderForm {
 public:
  FrmUploadSimples();
};
