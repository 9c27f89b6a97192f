#pragma once
#include <QWidget>

#include "app/forms.h"

// A window whose work is not built yet: right name and caption, and it gives the main window back.
class PlaceholderForm : public FormBase<QWidget> {
 public:
  PlaceholderForm(const QString& objectName, const QString& caption);

 protected:
  void closeEvent(QCloseEvent* e) override;
};
