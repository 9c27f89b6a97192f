// Prints where the program's folder rules lead when run from wherever the test copied it:
//   layoutprobe [prepare]
// lines: data folder, version file, export tool, and with "prepare" the outcome of the first-start set-up.
#include <QCoreApplication>
#include <cstdio>

#include "base/appfolder.h"

int main(int argc, char** argv) {
  AppFolder::restrictNewFiles();
  QCoreApplication app(argc, argv);
  std::printf("%s\n", qPrintable(AppFolder::path()));
  std::printf("%s\n", qPrintable(AppFolder::shipped(QStringLiteral("info.dip"))));
  std::printf("%s\n", qPrintable(AppFolder::helper(QStringLiteral("fbexport"))));
  if (argc > 1 && qstrcmp(argv[1], "prepare") == 0) {
    QString error;
    const bool ok = AppFolder::prepare(&error);
    std::printf("%s\n", ok ? "ok" : qPrintable(error));
  }
  return 0;
}
