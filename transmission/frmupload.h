#pragma once
#include "app/placeholderform.h"

class FrmUpload : public PlaceholderForm {
 public:
  FrmUpload();
};
