#include "gui/widgets/forms.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include "registry/session.h"

namespace Forms {
namespace {
QHash<std::type_index, QPointer<QWidget>>& registry() {
  static QHash<std::type_index, QPointer<QWidget>> r;
  return r;
}
bool g_ended = false;
QPointer<QWidget> g_main;
}  // namespace

void setMainWindow(QWidget* w) { g_main = w; }
QWidget* mainWindow() { return g_main.data(); }

void attachToMainWindow(QWidget* w) {
  QWidget* m = g_main.data();
  if (!m || m == w || !w->isWindow()) return;
  // Only the window system's tie: a widget parent would disable the child whenever the main window
  // is disabled, which is exactly while the child is open.
  // The X11 window managers honour the tie only for dialogs: a plain window could go under a
  // greyed-out main window and leave nothing to click. The type is set before the first show.
  if (w->windowType() == Qt::Window && !w->isVisible())
    w->setWindowFlags((w->windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog | Qt::WindowMinMaxButtonsHint |
                      Qt::WindowCloseButtonHint);
  m->winId();
  w->winId();
  if (w->windowHandle() && m->windowHandle()) w->windowHandle()->setTransientParent(m->windowHandle());
}
QWidget* lookup(std::type_index type) {
  auto it = registry().find(type);
  if (it == registry().end()) return nullptr;
  if (it.value().isNull()) {
    registry().erase(it);
    return nullptr;
  }
  return it.value().data();
}

void remember(std::type_index type, QWidget* w) { registry().insert(type, w); }

void forget(QWidget* w) {
  for (auto it = registry().begin(); it != registry().end();) {
    if (it.value().data() == w || it.value().isNull()) it = registry().erase(it);
    else ++it;
  }
  if (w) w->deleteLater();
}

void unloadAll() {
  const auto all = registry().values();
  registry().clear();
  for (const QPointer<QWidget>& w : all) {
    if (!w) continue;
    w->hide();
    delete w.data();
  }
  Session::current().reset();
}

void endProgram() {
  g_ended = true;
  // Called from inside a window's own menu or button handler: the windows are hidden and leave the
  // registry now, but are destroyed only once that handler has returned, or Qt would go on writing
  // into the freed menu.
  QList<QPointer<QWidget>> all = registry().values();
  registry().clear();
  for (const QPointer<QWidget>& w : all)
    if (w) w->hide();
  QTimer::singleShot(0, qApp, [all] {
    for (const QPointer<QWidget>& w : all) delete w.data();
    Session::current().reset();
    QCoreApplication::quit();
  });
}

bool programEnded() { return g_ended; }
void resetProgramEnded() { g_ended = false; }

}  // namespace Forms
