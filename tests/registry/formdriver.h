#pragma once
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// Driving the registration windows as a person would: typing into boxes, leaving them, clicking.
namespace FormDriver {

inline void settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

template <class T = QLineEdit>
T* child(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(QString::fromLatin1(name));
  if (!c) qFatal("no child %s in %s", name, qPrintable(w->objectName()));
  return c;
}

// Empties the box and types the keys from its first position, as after a click at its start.
inline void type(QWidget* w, const char* name, const QString& keys) {
  QLineEdit* box = child(w, name);
  box->clear();
  box->home(false);
  for (QChar c : keys) {
    // keyClick takes Latin-1 letters only; accented ones go in as a key event carrying the text.
    if (c.unicode() < 0x80) QTest::keyClick(box, char(c.unicode()));
    else QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

inline QString shown(QWidget* w, const char* name) { return child(w, name)->displayText(); }

// The focus leaves the box (tabbing out of it).
inline void leave(QWidget* w, const char* name) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(child(w, name), &out);
}

inline void click(QWidget* w, const char* name) { child<QPushButton>(w, name)->click(); }

}  // namespace FormDriver
