#include "registry/certsources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/privatefile.h"

namespace CertificateSources {

namespace {

QStringList pathList(const QByteArray& env) {
  QStringList out;
  for (const QString& p : QString::fromLocal8Bit(env).split(QLatin1Char(':'), Qt::SkipEmptyParts)) out << p.trimmed();
  return out;
}

}  // namespace

bool isChainCertificate(const CertificateInfo& info) { return info.isCa && info.document.isEmpty(); }

std::optional<CertificateInfo> certificateOf(const QList<CertificateInfo>& list, const QString& document) {
  std::optional<CertificateInfo> best;
  if (document.isEmpty()) return best;
  for (const CertificateInfo& c : list)
    if (c.document == document && (!best || c.validTo > best->validTo)) best = c;
  return best;
}

QStringList pkcs11Modules() { return pathList(qgetenv("ZIDE_PKCS11_MODULES")); }

QStringList FirefoxProfileDirs(const QString& iniText, const QString& baseDir) {
  QStringList out;
  bool inProfile = false;
  QString path;
  bool relative = true;
  auto flush = [&] {
    if (inProfile && !path.isEmpty()) {
      const QString p = relative ? QDir(baseDir).filePath(path) : path;
      const QString clean = QDir::cleanPath(p);
      if (!out.contains(clean)) out << clean;
    }
    path.clear();
    relative = true;
  };
  for (QString line : iniText.split(QLatin1Char('\n'))) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      flush();
      inProfile = line.mid(1, line.size() - 2).startsWith(QLatin1String("Profile"));
      continue;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || !inProfile) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key == QLatin1String("Path")) path = value;
    else if (key == QLatin1String("IsRelative")) relative = value != QLatin1String("0");
  }
  flush();
  return out;
}

QStringList nssDatabases() {
  if (qEnvironmentVariableIsSet("ZIDE_NSS_DBS")) return pathList(qgetenv("ZIDE_NSS_DBS"));
  const QString home = QDir::homePath();
  QStringList out{QDir(home).filePath(QStringLiteral(".pki/nssdb"))};
  for (const QString& firefox :
       {QStringLiteral(".mozilla/firefox"), QStringLiteral("snap/firefox/common/.mozilla/firefox"),
        QStringLiteral(".var/app/org.mozilla.firefox/.mozilla/firefox")}) {
    const QString base = QDir(home).filePath(firefox);
    QByteArray ini;
    if (!PrivateFile::readRegular(QDir(base).filePath(QStringLiteral("profiles.ini")), 1 << 20, &ini)) continue;
    for (const QString& dir : FirefoxProfileDirs(QString::fromUtf8(ini), base))
      if (!out.contains(dir)) out << dir;
  }
  return out;
}

CertificateListing listAll() {
  CertificateListing out = CertificateStore::list();
  out.append(listTokens());
  out.append(listBrowsers());
  return out;
}

}  // namespace CertificateSources
