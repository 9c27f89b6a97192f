#pragma once
#include <QByteArray>
#include <QString>

#include "sandboxserver.h"

// The file part of an upload.
struct FilePart {
  QString field;
  QString fileName;
  QString contentType;
  QByteArray content;
};

// One part of a multipart/form-data body. The client writes "multipart/form-data, boundary=...",
// so the boundary is looked for after "boundary=" whatever separates it.
bool parseMultipart(const HttpRequest& req, FilePart* part, QString* error);
