// The upload address taken apart, and the request built from it read back by the sandbox server's
// multipart parser. Input: the URL on the first line, the file's content after it.
#include "fuzzing.h"
#include "net/upload.h"
#include "net/urlhelper.h"
#include "tools/sandbox/multipart.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QByteArray urlBytes, content;
  fuzzing::splitFirstLine(fuzzing::bytes(data, size), &urlBytes, &content);
  const QString url = QString::fromUtf8(urlBytes);
  const UrlParts p = SplitUrl(url);

  FUZZ_CHECK(p.Port >= 0 && p.Port <= kMaxPort);
  FUZZ_CHECK(!(p.PortOutOfRange && p.Port != 0));
  FUZZ_CHECK(p.Path.startsWith(QLatin1Char('/')));
  FUZZ_CHECK(!p.Path.contains(QLatin1Char('?')));
  FUZZ_CHECK(p.Host.size() + p.Path.size() + p.Query.size() <= url.size() + 1);
  if (!url.contains(QStringLiteral("://"))) FUZZ_CHECK(p.Scheme.isEmpty());

  static const QString boundary = QStringLiteral("Zq3Rk8LmN2pX7vB4cW9dF6gH1jT5sY0a");
  const QByteArray request = BuildUploadRequest(content, p, QStringLiteral("objArquivo"), QStringLiteral("zide.db"),
                                                QStringLiteral("application/octet-stream"), boundary);
  // What the server reads: the head up to the blank line, then Content-Length bytes.
  const qsizetype headEnd = request.indexOf("\r\n\r\n");
  FUZZ_CHECK(headEnd > 0);
  HttpRequest req;
  const QList<QByteArray> lines = request.left(headEnd).split('\n');
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) req.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
  }
  req.body = request.mid(headEnd + 4);
  // A host or path with a line break of its own can split the head; the declared length still
  // covers exactly the body the client writes after its own head.
  if (url.contains(QLatin1Char('\r')) || url.contains(QLatin1Char('\n'))) return 0;
  FUZZ_CHECK(req.header("content-length").toLongLong() == req.body.size());
  FilePart part;
  QString error;
  FUZZ_CHECK(parseMultipart(req, &part, &error));
  FUZZ_CHECK(part.field == QLatin1String("objArquivo") && part.fileName == QLatin1String("zide.db"));
  // The content comes back whole unless it holds the boundary line itself.
  if (!content.contains("\r\n--" + boundary.toLatin1())) FUZZ_CHECK(part.content == content);
  return 0;
}
