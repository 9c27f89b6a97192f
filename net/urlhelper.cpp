#include "net/urlhelper.h"

#include "base/settings.h"

qint64 ParsePortText(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty() || t.size() > 9) return -1;
  qint64 v = 0;
  for (QChar c : t) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c.unicode() - '0');
  }
  return v;
}

bool IsValidPort(qint64 port) { return port >= 1 && port <= kMaxPort; }

bool IsValidHost(const QString& host) {
  if (host.isEmpty() || host.size() > 253) return false;
  for (QChar c : host) {
    if (c.unicode() <= 0x20 || c.unicode() == 0x7f) return false;
    if (QStringLiteral("/\\?#@:[]%\"'<>`{}|^").contains(c)) return false;
  }
  return true;
}

std::optional<QString> ConfiguredScheme() {
  const QString p = ReadSetting(QStringLiteral("servidor"), QStringLiteral("protocolo")).toLower();
  if (p.isEmpty() || p == QLatin1String("http")) return QStringLiteral("http");
  if (p == QLatin1String("https")) return QStringLiteral("https");
  return std::nullopt;
}

std::optional<ServerAddress> ConfiguredServer(QString* error) {
  ServerAddress a;
  a.host = ReadSetting(QStringLiteral("servidor"), QStringLiteral("host"));
  const qint64 port = ParsePortText(ReadSetting(QStringLiteral("servidor"), QStringLiteral("port")));
  const auto scheme = ConfiguredScheme();
  QString e;
  if (!IsValidHost(a.host)) e = QStringLiteral("Invalid Host");
  else if (!IsValidPort(port)) e = QStringLiteral("Invalid Port");
  else if (!scheme) e = QStringLiteral("Invalid Protocol");
  if (error) *error = e;
  if (!e.isEmpty()) return std::nullopt;
  a.port = int(port);
  a.scheme = *scheme;
  return a;
}

UrlParts SplitUrl(const QString& url) {
  UrlParts p;
  QString rest = url;
  const qsizetype scheme = url.indexOf(QStringLiteral("://"));
  if (scheme >= 0) {
    p.Scheme = url.left(scheme);
    rest = url.mid(scheme + 3);
  }
  // 0-based here: -1 stands for "absent".
  const qsizetype i = rest.indexOf(':');
  const qsizetype j = rest.indexOf('/');
  if (i >= 0 && i < j) {
    p.Host = rest.left(i);
    const qint64 port = ParsePortText(rest.mid(i + 1, j - i - 1));
    if (port > kMaxPort) p.PortOutOfRange = true;
    else if (port > 0) p.Port = int(port);
  } else if (j >= 0) {
    p.Host = rest.left(j);
  } else {
    p.Host = rest;
    p.Path = QStringLiteral("/");
    return p;
  }
  rest = rest.mid(j);
  const qsizetype q = rest.indexOf('?');
  if (q >= 0) {
    p.Path = rest.left(q);
    p.Query = rest.mid(q + 1);
  } else {
    p.Path = rest;
  }
  return p;
}
