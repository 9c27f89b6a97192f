#include "net/urlhelper.h"

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
    if (port > 32767) p.PortOutOfRange = true;
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
