#pragma once
#include <QByteArray>
#include <QString>

#include "sandboxserver.h"

// The file part of an upload: in memory when the request body was, else a temporary file that holds
// exactly the part's bytes.
struct FilePart {
  QString field;
  QString fileName;
  QString contentType;
  QByteArray content;
  std::shared_ptr<QTemporaryFile> file;
  qint64 size() const { return file ? file->size() : content.size(); }
};

// One part of a multipart/form-data body. The client writes "multipart/form-data, boundary=...",
// so the boundary is looked for after "boundary=" whatever separates it.
bool parseMultipart(const HttpRequest& req, FilePart* part, QString* error);
