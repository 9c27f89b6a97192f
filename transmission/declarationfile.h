#pragma once
#include <QByteArray>
#include <QString>

// What the header page of a chosen file says before any program reads it.
struct DeclarationFileCheck {
  enum Kind { Ok, NotDeclaration, Truncated, UnknownVersion };
  Kind kind = Ok;
  int odsMajor = 0, odsMinor = 0;
  QString message;  // for the user, empty when Ok
};

// Checks the first bytes of the file (at least 128) and its size: a database page header, a whole
// number of pages, and an on-disk version that the export tool reads (10 to 13).
DeclarationFileCheck checkDeclarationHeader(const QByteArray& head, qint64 fileSize);

// The engine generation that writes on-disk version `major`, in words.
QString onDiskVersionName(int major);
// The engine release that writes major.minor and the version, in words for the user:
// "Firebird 2.5 (estrutura em disco 11.2)".
QString engineGeneration(int major, int minor);

// Messages for the ways a chosen file cannot be prepared.
QString fileInUseMessage(const QString& reason);
QString diskFullMessage(const QString& folder);
// Whether the export tool's error output means the file is held by another program.
bool isFileInUseError(const QString& errorOutput);
// What to tell the user when a table the reference list needs could not be read, from the
// engine's words: a damaged file, a version the engine cannot open, or just the table. A known
// generation (engineGeneration) is named, since it tells the user which program wrote the file.
QString unreadableTableMessage(const QString& table, const QString& engineText, const QString& generation = {});
