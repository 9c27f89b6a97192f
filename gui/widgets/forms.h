#pragma once
#include <QCloseEvent>
#include <QHash>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWidget>
#include <typeindex>

// Windows are single instances addressed by type: loaded on first reference, shown non-modal,
// and unloaded (destroyed) when closed, so the next reference loads a fresh one.
namespace Forms {

QWidget* lookup(std::type_index type);
void remember(std::type_index type, QWidget* w);
// The main window: every window loaded while it exists becomes its transient child, so the window
// manager keeps it above the main window and centres it there.
void setMainWindow(QWidget* w);
QWidget* mainWindow();
void attachToMainWindow(QWidget* w);
// Drops a window from the registry and destroys it once control returns to the event loop.
void forget(QWidget* w);

template <class T>
T* find() {
  return static_cast<T*>(lookup(std::type_index(typeid(T))));
}

template <class T>
T* get() {
  if (T* w = find<T>()) return w;
  T* w = new T();
  w->setAttribute(Qt::WA_DeleteOnClose);
  attachToMainWindow(w);
  remember(std::type_index(typeid(T)), w);
  return w;
}

// Unloads every window (tests, and "Sair").
void unloadAll();
// "Sair": every window closed, the program ends at once, no questions.
void endProgram();
// Whether endProgram ran (tests).
bool programEnded();
void resetProgramEnded();

}  // namespace Forms

// Base of every window: a closed window leaves the registry at once.
template <class Base>
class FormBase : public Base {
 public:
  using Base::Base;

 protected:
  // Esc cancels the window; Enter presses its default button (a text box passes Enter on to here).
  void keyPressEvent(QKeyEvent* e) override {
    if (e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier) {
      if (e->key() == Qt::Key_Escape && escapeCloses_ && this != Forms::mainWindow()) {
        this->close();
        return;
      }
      if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        for (QPushButton* b : this->template findChildren<QPushButton*>())
          if (b->isDefault() && b->isVisible() && b->isEnabled() && b->window() == this) {
            b->click();
            return;
          }
      }
    }
    Base::keyPressEvent(e);
  }

  // The opening window ends the program when closed: Esc must not do that.
  bool escapeCloses_ = true;

  void showEvent(QShowEvent* e) override {
    Base::showEvent(e);
    // First shown over the main window, centred; afterwards where the user puts it.
    QWidget* owner = Forms::mainWindow();
    if (centred_ || !owner || owner == this || !this->isWindow() || !owner->isVisible()) return;
    centred_ = true;
    Forms::attachToMainWindow(this);
    const QRect area = owner->frameGeometry();
    QPoint at = area.center() - QPoint(this->width() / 2, this->height() / 2);
    // A window taller than the main one never starts with its title bar above the screen.
    if (const QScreen* screen = owner->screen()) {
      const QRect room = screen->availableGeometry();
      at.setX(qMax(at.x(), room.left()));
      at.setY(qMax(at.y(), room.top()));
    }
    this->move(at);
  }
  void closeEvent(QCloseEvent* e) override {
    Base::closeEvent(e);
    if (e->isAccepted()) Forms::forget(this);
  }

 private:
  bool centred_ = false;
};
