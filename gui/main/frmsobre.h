#pragma once
#include <QDialog>

#include "gui/widgets/forms.h"

// About window. However it is closed, the main window comes (back) up enabled.
class FrmSobre : public FormBase<QWidget> {
  Q_OBJECT
 public:
  FrmSobre();

 protected:
  void closeEvent(QCloseEvent* e) override;
};
