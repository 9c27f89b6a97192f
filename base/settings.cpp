#include "base/settings.h"

#include <QFile>

#include "base/appfolder.h"
#include "base/cp1252.h"

QString SettingsPath;

void InitSettingsPath() { SettingsPath = AppFolder::file(QStringLiteral("diziz.ini")); }

namespace {
constexpr qsizetype kMaxCopied = 254;  // buffer of 255 less the terminator
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

QByteArray trimBlanks(QByteArray s) {
  qsizetype b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.mid(b, e - b);
}
}  // namespace

QString ReadSettingFrom(const QByteArray& contents, const QString& section, const QString& key) {
  const QByteArray wantSection = toCp1252(section).trimmed().toLower();
  const QByteArray wantKey = toCp1252(key).trimmed().toLower();
  bool inSection = false;
  qsizetype pos = 0;
  while (pos <= contents.size()) {
    qsizetype nl = contents.indexOf('\n', pos);
    if (nl < 0) nl = contents.size();
    const QByteArray line = trimBlanks(contents.mid(pos, nl - pos));
    pos = nl + 1;
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[')) {
      const qsizetype close = line.indexOf(']');
      const QByteArray name = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).trimmed().toLower();
      // Only the first section of that name is read.
      if (inSection) break;
      inSection = (name == wantSection);
      continue;
    }
    if (!inSection) continue;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) continue;
    if (trimBlanks(line.left(eq)).toLower() != wantKey) continue;
    QByteArray value = trimBlanks(line.mid(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.mid(1, value.size() - 2);
    // The reader stops at a NUL like the C string it copies into.
    const qsizetype nul = value.indexOf('\0');
    if (nul >= 0) value.truncate(nul);
    if (value.size() > kMaxCopied) value.truncate(kMaxCopied);
    if (value.size() < 2) return QString();
    return fromCp1252(value);
  }
  return QString();
}

namespace {
thread_local const QByteArray* t_snapshot = nullptr;

QByteArray readSettingsFile() {
  if (SettingsPath.isEmpty()) InitSettingsPath();
  QFile f(SettingsPath);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  // Read as far as the file goes (up to the limit): asking for the limit at once would reserve
  // 64 MiB for every setting read, and every request reads several.
  QByteArray contents;
  char block[16 * 1024];
  while (contents.size() < kMaxFileBytes) {
    const qint64 n = f.read(block, qMin<qint64>(qint64(sizeof block), kMaxFileBytes - contents.size()));
    if (n <= 0) break;
    contents.append(block, qsizetype(n));
  }
  return contents;
}
}  // namespace

QString ReadSetting(const QString& section, const QString& key) {
  if (t_snapshot) return ReadSettingFrom(*t_snapshot, section, key);
  return ReadSettingFrom(readSettingsFile(), section, key);
}

SettingsSnapshot::SettingsSnapshot() : contents_(readSettingsFile()), outer_(t_snapshot) { t_snapshot = &contents_; }

SettingsSnapshot::~SettingsSnapshot() { t_snapshot = outer_; }
