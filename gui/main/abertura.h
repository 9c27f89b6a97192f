#pragma once
#include <QWidget>

#include "gui/widgets/forms.h"

class QPushButton;
class QLabel;

// Opening window.
class Abertura : public FormBase<QWidget> {
  Q_OBJECT
 public:
  Abertura();

 private:
  void Command1_Click();
  void Command2_Click();
};
