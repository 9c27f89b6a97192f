#include "fuzzing.h"

#include <QCoreApplication>

namespace fuzzing {

void quietQt() {
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtFatalMsg) {
      std::fprintf(stderr, "qFatal: %s\n", qPrintable(msg));
      std::abort();
    }
  });
}

void ensureApp() {
  static int argc = 1;
  static char name[] = "fuzz";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

}  // namespace fuzzing
