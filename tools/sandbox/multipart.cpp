#include "multipart.h"

#include <QDir>

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

namespace {
// Part headers and content bounds of a body whose first bytes are `head`; the content ends at the
// first "\r\n--B" found by `findClose` from the given offset.
bool readPart(const QByteArray& contentType, const QByteArray& head, FilePart* part, qint64* contentStart,
              QByteArray* boundaryOut, QString* error) {
  const qsizetype b = contentType.indexOf("boundary=");
  if (!contentType.toLower().startsWith("multipart/form-data") || b < 0) {
    *error = QStringLiteral("Content-Type sem multipart/form-data e boundary");
    return false;
  }
  QByteArray boundary = contentType.mid(b + 9).trimmed();
  if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() > 1)
    boundary = boundary.mid(1, boundary.size() - 2);
  const qsizetype semi = boundary.indexOf(';');
  if (semi >= 0) boundary.truncate(semi);
  const QByteArray open = "--" + boundary + "\r\n";
  if (!head.startsWith(open)) {
    *error = QStringLiteral("corpo não começa pelo boundary");
    return false;
  }
  const qsizetype headEnd = head.indexOf("\r\n\r\n", open.size());
  if (headEnd < 0) {
    *error = QStringLiteral("cabeçalhos da parte incompletos");
    return false;
  }
  const QByteArray headers = head.mid(open.size(), headEnd - open.size());
  for (const QByteArray& line : headers.split('\n')) {
    const QByteArray l = line.trimmed();
    if (l.toLower().startsWith("content-disposition:")) {
      part->field = fromCp1252(attribute(l, "name"));
      part->fileName = fromCp1252(attribute(l, "filename"));
    } else if (l.toLower().startsWith("content-type:")) {
      part->contentType = QString::fromLatin1(l.mid(13).trimmed());
    }
  }
  *contentStart = headEnd + 4;
  *boundaryOut = boundary;
  return true;
}

// The part of a body kept on disk, copied slice by slice to a file of its own.
bool parseFileBody(const HttpRequest& req, FilePart* part, QString* error) {
  constexpr qint64 kSlice = 1024 * 1024;
  QTemporaryFile& body = *req.bodyFile;
  const qint64 size = body.size();
  if (!body.seek(0)) return false;
  const QByteArray head = body.read(64 * 1024);
  qint64 start = 0;
  QByteArray boundary;
  if (!readPart(req.header("content-type"), head, part, &start, &boundary, error)) return false;
  // The closing boundary is the last one: read the end of the body.
  const qint64 tailAt = qMax(start, size - 64 * 1024);
  if (!body.seek(tailAt)) return false;
  const qsizetype close = body.read(size - tailAt).lastIndexOf("\r\n--" + boundary);
  if (close < 0) {
    *error = QStringLiteral("boundary final ausente");
    return false;
  }
  const qint64 end = tailAt + close;
  auto out = std::make_shared<QTemporaryFile>(QDir::temp().filePath("zide-sandbox-arquivo-XXXXXX"));
  if (!out->open() || !body.seek(start)) {
    *error = QStringLiteral("sem espaço temporário para o arquivo");
    return false;
  }
  QByteArray slice;
  for (qint64 at = start; at < end;) {
    slice = body.read(qMin(kSlice, end - at));
    if (slice.isEmpty() || out->write(slice) != slice.size()) {
      *error = QStringLiteral("falha ao copiar o arquivo recebido");
      return false;
    }
    at += slice.size();
  }
  if (!out->flush() || !out->seek(0)) return false;
  part->file = std::move(out);
  return true;
}
}  // namespace

bool parseMultipart(const HttpRequest& req, FilePart* part, QString* error) {
  if (req.bodyFile) return parseFileBody(req, part, error);
  qint64 contentStart = 0;
  QByteArray boundary;
  if (!readPart(req.header("content-type"), req.body, part, &contentStart, &boundary, error)) return false;
  const qsizetype close = req.body.indexOf("\r\n--" + boundary, contentStart);
  if (close < 0) {
    *error = QStringLiteral("boundary final ausente");
    return false;
  }
  part->content = req.body.mid(contentStart, close - contentStart);
  return true;
}
