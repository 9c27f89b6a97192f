#pragma once
#include <QLineEdit>
#include <QString>
#include <functional>

// Masked-edit boxes of the registration windows: a QLineEdit with an input mask and "_" as the blank.

// A box with the given mask (see Masks in registry/registrylogic.h).
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
