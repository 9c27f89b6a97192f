#include "net/proxy.h"

#include <QUrl>

#include "base/settings.h"
#include "net/urlhelper.h"

std::optional<ProxyRoute> ParseProxy(const QString& text) {
  QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  const qsizetype sep = t.indexOf(QStringLiteral("://"));
  if (sep >= 0) {
    if (t.left(sep).compare(QLatin1String("http"), Qt::CaseInsensitive) != 0) return std::nullopt;
  } else {
    t.prepend(QStringLiteral("http://"));
  }
  const QUrl url(t, QUrl::StrictMode);
  if (!url.isValid() || !IsValidHost(url.host()) || (url.path() != QLatin1String("/") && !url.path().isEmpty()))
    return std::nullopt;
  ProxyRoute r;
  r.host = url.host();
  r.port = url.port(1080);
  if (!IsValidPort(r.port)) return std::nullopt;
  r.user = url.userName(QUrl::FullyDecoded);
  r.password = url.password(QUrl::FullyDecoded);
  return r;
}

bool NoProxyCovers(const QString& list, const QString& host) {
  const QString h = host.toLower();
  for (QString entry : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    entry = entry.trimmed().toLower();
    if (entry == QLatin1String("*")) return true;
    // A port in the entry is not considered, as in curl.
    const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !entry.contains(QLatin1Char(']'))) entry.truncate(colon);
    while (entry.startsWith(QLatin1Char('.'))) entry.remove(0, 1);
    if (entry.isEmpty()) continue;
    if (h == entry || h.endsWith(QLatin1Char('.') + entry)) return true;
  }
  return false;
}

namespace {
QString env(const char* name) { return qEnvironmentVariable(name); }
}  // namespace

std::optional<ProxyRoute> ProxyFor(const QString& scheme, const QString& host, QString* error) {
  if (error) error->clear();
  QString chosen = ReadSetting(QStringLiteral("servidor"), QStringLiteral("proxy"));
  if (chosen.compare(QLatin1String("nenhum"), Qt::CaseInsensitive) == 0) return ProxyRoute{};
  if (chosen.isEmpty()) {
    // Upper-case HTTP_PROXY is not read: a web server's CGI environment sets it from a request header.
    chosen = scheme == QLatin1String("https") ? env("https_proxy") : env("http_proxy");
    if (chosen.isEmpty() && scheme == QLatin1String("https")) chosen = env("HTTPS_PROXY");
    if (chosen.isEmpty()) chosen = env("all_proxy");
    if (chosen.isEmpty()) chosen = env("ALL_PROXY");
  }
  if (chosen.isEmpty()) return ProxyRoute{};
  QString noProxy = env("no_proxy");
  if (noProxy.isEmpty()) noProxy = env("NO_PROXY");
  if (NoProxyCovers(noProxy, host)) return ProxyRoute{};
  const auto route = ParseProxy(chosen);
  if (!route && error) *error = QStringLiteral("Proxy inválido: ") + chosen;
  return route;
}

QString CaFileOverride() { return qEnvironmentVariable("ZIDE_CA_FILE"); }
