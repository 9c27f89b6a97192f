#pragma once
#include <QDialog>

#include "app/forms.h"

// About window. However it is closed, the main window comes (back) up enabled.
class FrmSobre : public FormBase<QWidget> {
  Q_OBJECT
 public:
  FrmSobre();

 protected:
  void closeEvent(QCloseEvent* e) override;
};
