#include "gui/widgets/maskedbox.h"

#include <QFocusEvent>

namespace {
class LeaveFilter : public QObject {
 public:
  LeaveFilter(QObject* parent, std::function<void()> fn) : QObject(parent), fn_(std::move(fn)) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::FocusOut) {
      const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
      if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason) fn_();
    }
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

QObject* OnLeave(QWidget* w, std::function<void()> fn) {
  auto* hook = new LeaveFilter(w, std::move(fn));
  w->installEventFilter(hook);
  return hook;
}
