#pragma once
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
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

// The accountant window filled with a complete, valid accountant: a person (CPF) or a company (CNPJ).
inline void fillAccountant(QWidget* f, bool company, const QString& document, const QString& name,
                           const QString& email) {
  child<QRadioButton>(f, company ? "opt_juridica" : "opt_fisica")->click();
  type(f, "txtCNPJCPF", document);
  type(f, "txtCRC", "MG-012345/O");
  type(f, "txtRazaoSocial", name);
  type(f, "txtLogradouro", "Rua Direita");
  type(f, "txtNumero", "10");
  type(f, "txtBairro", "Centro");
  type(f, "txtCidade", "Tavarel");
  type(f, "txtUF", "MG");
  type(f, "txtTelefone", "3134567800");
  type(f, "txtCEP", "35000000");
  type(f, "txtEmail", email);
}

}  // namespace FormDriver
