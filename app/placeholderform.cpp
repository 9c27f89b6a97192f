#include "app/placeholderform.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/principal.h"

PlaceholderForm::PlaceholderForm(const QString& objectName, const QString& caption) {
  setObjectName(objectName);
  setWindowTitle(caption);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(new QLabel(QStringLiteral("Em construção."), this));
  resize(480, 200);
}

void PlaceholderForm::closeEvent(QCloseEvent* e) {
  if (Principal* p = Forms::find<Principal>()) p->setEnabled(true);
  FormBase<QWidget>::closeEvent(e);
}
