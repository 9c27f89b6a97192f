#pragma once
#include <QString>

// Where the program keeps its files: the executable's folder, or ZIDE_HOME when set.
namespace AppFolder {
QString path();
// A file "in the application folder".
QString file(const QString& name);
// A file the program ships (version file, template, export tool): the application folder's
// own copy when it has one, else the copy beside the executable.
QString shipped(const QString& name);
}  // namespace AppFolder
