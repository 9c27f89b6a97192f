#pragma once
#include <QString>

// Path of diziz.ini, computed once at start-up (tests may point it elsewhere).
extern QString SettingsPath;

// Computes SettingsPath from the application folder.
void InitSettingsPath();

// One value of the settings file with the rules of the Windows private-profile reader:
// section and key without regard to case, blanks trimmed, matching quotes removed,
// at most 254 characters, and a value shorter than 2 characters read as empty.
// Read afresh at every call; any failure gives the empty text.
QString ReadSetting(const QString& section, const QString& key);

// The same rules applied to file contents already in memory (used by ReadSetting).
QString ReadSettingFrom(const QByteArray& contents, const QString& section, const QString& key);
