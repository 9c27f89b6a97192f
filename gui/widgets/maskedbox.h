#pragma once
#include <QLineEdit>
#include <QString>
#include <functional>

// Masked-edit boxes of the registration windows: a QLineEdit with an input mask and "_" as the blank.

// A box with the given mask (see Masks in registry/registrylogic.h). A click past what was typed puts
// the cursor on the first blank position, so typing is never swallowed at the end of the mask; a
// pasted document fills the mask with or without its punctuation.
class MaskedBox : public QLineEdit {
  Q_OBJECT
 public:
  MaskedBox(QWidget* parent, const QString& objectName, const QString& mask);

  // A longer form of the mask (a mobile number's extra digit): typing into the full box moves to it,
  // and leaving the box with no more than the short mask holds moves back.
  void setLongerMask(const QString& mask);

  // Index of the first position not typed yet, or -1 when the box is full.
  int firstBlank() const;
  // What a paste does: the digits and letters of the text, from the first blank (or over the selection).
  void pasteText(const QString& text);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void keepCursorReachable();
  QString typed() const;
  QString shorterMask_;
  QString longerMask_;
};

QLineEdit* NewMaskedBox(QWidget* parent, const QString& objectName, const QString& mask);
// The text as the box shows it: punctuation and the "_" of every position not typed yet. This is the
// value the checks and the statements take (QLineEdit::text() would drop the blanks).
QString MaskedText(const QLineEdit* box);
// Changes the mask; the box is emptied when the mask really changes, so no digits shift into
// the punctuation of the other document.
void SetMask(QLineEdit* box, const QString& mask);
// Runs fn every time the focus moves from w to another control. A masked box that is not complete
// gives no editingFinished, so the leave checks hook the focus itself. Switching to another window, a
// message box or a context menu is not leaving. Returns the hook, which the window deletes in its
// destructor: no check may run on a window that is being torn down.
QObject* OnLeave(QWidget* w, std::function<void()> fn);
