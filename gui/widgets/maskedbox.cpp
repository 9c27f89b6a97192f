#include "gui/widgets/maskedbox.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>

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

MaskedBox::MaskedBox(QWidget* parent, const QString& objectName, const QString& mask) : QLineEdit(parent) {
  setObjectName(objectName);
  setInputMask(mask);
}

int MaskedBox::firstBlank() const {
  if (inputMask().isEmpty()) return -1;
  return displayText().indexOf(QLatin1Char('_'));
}

void MaskedBox::keepCursorReachable() {
  if (hasSelectedText()) return;
  const int blank = firstBlank();
  if (blank >= 0 && cursorPosition() > blank) setCursorPosition(blank);
}

void MaskedBox::mousePressEvent(QMouseEvent* e) {
  QLineEdit::mousePressEvent(e);
  keepCursorReachable();
}

void MaskedBox::mouseReleaseEvent(QMouseEvent* e) {
  QLineEdit::mouseReleaseEvent(e);
  keepCursorReachable();
}

void MaskedBox::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  // Qt places the cursor after the focus event is handled (e.g. on a click); look again then.
  QTimer::singleShot(0, this, [this] {
    if (hasFocus()) keepCursorReachable();
  });
}

void MaskedBox::setLongerMask(const QString& mask) {
  shorterMask_ = inputMask();
  longerMask_ = mask;
}

QString MaskedBox::typed() const {
  QString out;
  for (const QChar c : displayText())
    if (c.isLetterOrNumber()) out += c;
  return out;
}

void MaskedBox::keyPressEvent(QKeyEvent* e) {
  if (e == QKeySequence::Paste) {
    pasteText(QGuiApplication::clipboard()->text());
    e->accept();
    return;
  }
  const QString key = e->text();
  if (!longerMask_.isEmpty() && inputMask() == shorterMask_ && firstBlank() < 0 && !hasSelectedText() &&
      key.size() == 1 && key[0].isDigit() && cursorPosition() >= displayText().size()) {
    const QString digits = typed() + key;
    setInputMask(longerMask_);
    setText(digits);
    end(false);
    emit textEdited(displayText());
    e->accept();
    return;
  }
  QLineEdit::keyPressEvent(e);
}

void MaskedBox::focusOutEvent(QFocusEvent* e) {
  if (!longerMask_.isEmpty() && inputMask() == longerMask_) {
    const QString digits = typed();
    const int shortCapacity = int(shorterMask_.section(QLatin1Char(';'), 0, 0).count(QLatin1Char('9')));
    if (digits.size() <= shortCapacity) {
      setInputMask(shorterMask_);
      setText(digits);
    }
  }
  QLineEdit::focusOutEvent(e);
}

void MaskedBox::pasteText(const QString& text) {
  QString typed;
  for (const QChar c : text)
    if (c.isLetterOrNumber()) typed += c;
  if (typed.isEmpty()) return;
  if (hasSelectedText() && selectedText().size() == displayText().size()) {
    setText(typed);  // the whole box: the mask lays the characters out from its start
  } else {
    if (hasSelectedText()) del();
    keepCursorReachable();
    insert(typed);
  }
  emit textEdited(text);
}

QLineEdit* NewMaskedBox(QWidget* parent, const QString& objectName, const QString& mask) {
  return new MaskedBox(parent, objectName, mask);
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
