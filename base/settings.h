#pragma once
#include <QByteArray>
#include <QString>

// Path of diziz.ini, computed once at start-up (tests may point it elsewhere).
extern QString SettingsPath;

// Computes SettingsPath from the application folder.
void InitSettingsPath();

// One value of the settings file with the rules of the Windows private-profile reader:
// section and key without regard to case, blanks trimmed, matching quotes removed,
// at most 254 characters, and a value shorter than 2 characters read as empty.
// Read afresh at every call (or from the snapshot below); any failure gives the empty text.
QString ReadSetting(const QString& section, const QString& key);

// While one lives, ReadSetting on this thread answers from the file as it was read once here:
// the several settings one request needs come from one read and agree with one another.
class SettingsSnapshot {
 public:
  SettingsSnapshot();
  ~SettingsSnapshot();
  SettingsSnapshot(const SettingsSnapshot&) = delete;
  SettingsSnapshot& operator=(const SettingsSnapshot&) = delete;

 private:
  QByteArray contents_;
  const QByteArray* outer_;
};

// The same rules applied to file contents already in memory (used by ReadSetting).
QString ReadSettingFrom(const QByteArray& contents, const QString& section, const QString& key);
