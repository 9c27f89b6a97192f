#include "multipart.h"

#include "base/cp1252.h"

namespace {
QByteArray attribute(const QByteArray& header, const QByteArray& name) {
  const QByteArray key = name + "=\"";
  const qsizetype at = header.indexOf(key);
  if (at < 0) return {};
  const qsizetype start = at + key.size();
  const qsizetype end = header.indexOf('"', start);
  return end < 0 ? QByteArray() : header.mid(start, end - start);
}
}  // namespace

bool parseMultipart(const HttpRequest& req, FilePart* part, QString* error) {
  const QByteArray type = req.header("content-type");
  const qsizetype b = type.indexOf("boundary=");
  if (!type.toLower().startsWith("multipart/form-data") || b < 0) {
    *error = QStringLiteral("Content-Type sem multipart/form-data e boundary");
    return false;
  }
  QByteArray boundary = type.mid(b + 9).trimmed();
  if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() > 1)
    boundary = boundary.mid(1, boundary.size() - 2);
  const qsizetype semi = boundary.indexOf(';');
  if (semi >= 0) boundary.truncate(semi);
  const QByteArray open = "--" + boundary + "\r\n";
  if (!req.body.startsWith(open)) {
    *error = QStringLiteral("corpo não começa pelo boundary");
    return false;
  }
  const qsizetype headEnd = req.body.indexOf("\r\n\r\n", open.size());
  if (headEnd < 0) {
    *error = QStringLiteral("cabeçalhos da parte incompletos");
    return false;
  }
  const QByteArray headers = req.body.mid(open.size(), headEnd - open.size());
  const qsizetype contentStart = headEnd + 4;
  const qsizetype close = req.body.indexOf("\r\n--" + boundary, contentStart);
  if (close < 0) {
    *error = QStringLiteral("boundary final ausente");
    return false;
  }
  for (const QByteArray& line : headers.split('\n')) {
    const QByteArray l = line.trimmed();
    if (l.toLower().startsWith("content-disposition:")) {
      part->field = fromCp1252(attribute(l, "name"));
      part->fileName = fromCp1252(attribute(l, "filename"));
    } else if (l.toLower().startsWith("content-type:")) {
      part->contentType = QString::fromLatin1(l.mid(13).trimmed());
    }
  }
  part->content = req.body.mid(contentStart, close - contentStart);
  return true;
}
