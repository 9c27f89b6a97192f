#include "registry/maskedbox.h"

#include <QEvent>

namespace {
class LeaveFilter : public QObject {
 public:
  LeaveFilter(QObject* parent, std::function<void()> fn) : QObject(parent), fn_(std::move(fn)) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::FocusOut) fn_();
    return false;
  }

 private:
  std::function<void()> fn_;
};
}  // namespace

QLineEdit* NewMaskedBox(QWidget* parent, const QString& objectName, const QString& mask) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(objectName);
  box->setInputMask(mask);
  return box;
}

QString MaskedText(const QLineEdit* box) { return box->displayText(); }

void SetMask(QLineEdit* box, const QString& mask) {
  if (box->inputMask() == mask) return;
  box->setInputMask(mask);
  box->clear();
}

void OnLeave(QWidget* w, std::function<void()> fn) { w->installEventFilter(new LeaveFilter(w, std::move(fn))); }
