#pragma once
#include <QString>

// Where the program keeps its files, and where it finds what it ships.
//
// The data folder (settings, local database, working files, temp/) is ZIDE_HOME when set; else the
// executable's folder when it already holds diziz.ini (a build folder or a copy run in place); else
// the user's data folder ($XDG_DATA_HOME/zide, ~/.local/share/zide). An installed program never
// writes beside its executable.
namespace AppFolder {
QString path();
// A file "in the application folder".
QString file(const QString& name);
// A data file the program ships (version file, template, default settings): the data folder's own
// copy when it has one, else the copy beside the executable, else the installed one in
// ../share/zide. When none exists, the path beside the executable (what a message names).
QString shipped(const QString& name);
// A program the client runs (the export tool): beside the executable, else ../lib/zide. Never
// from the data folder, which other programs and users may be able to write.
QString helper(const QString& name);
// Tests stand in for the installation's helpers; empty restores the real lookup.
void setHelperFolderForTests(const QString& folder);

// Everything the process creates from here on is private to its user (umask 077). Called first
// thing in every program's main().
void restrictNewFiles();
// Makes the data folder (0700) when it is missing and gives it the shipped default diziz.ini.
// False, with the reason in `error`, when the folder cannot be made.
bool prepare(QString* error = nullptr);
}  // namespace AppFolder
