// An upload request as the sandbox server receives it: the Content-Type on the first line, the body
// after it.
#include "fuzzing.h"
#include "tools/sandbox/multipart.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HttpRequest req;
  QByteArray type;
  fuzzing::splitFirstLine(fuzzing::bytes(data, size), &type, &req.body);
  req.headers.insert("content-type", type);
  FilePart part;
  QString error;
  if (parseMultipart(req, &part, &error)) {
    // The content is the body's own bytes, ahead of a closing boundary.
    FUZZ_CHECK(part.content.size() < req.body.size());
    FUZZ_CHECK(req.body.contains(part.content));
  } else {
    FUZZ_CHECK(!error.isEmpty());
  }
  return 0;
}
