#pragma once
// Shared by the libFuzzer targets: a check that stops the run with a finding, and quiet Qt.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; a violation is reported like a crash.
#define FUZZ_CHECK(cond)                                                                   \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "FUZZ_CHECK failed at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)

namespace fuzzing {

inline QByteArray bytes(const uint8_t* data, size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The input cut at its first '\n': a short argument (boundary, state code) and the rest.
inline void splitFirstLine(const QByteArray& in, QByteArray* first, QByteArray* rest) {
  const qsizetype nl = in.indexOf('\n');
  *first = nl < 0 ? in : in.left(nl);
  *rest = nl < 0 ? QByteArray() : in.mid(nl + 1);
}

// Warnings from Qt (malformed XML, SQL errors) are expected by the thousand; fatal ones still abort.
void quietQt();
// A QCoreApplication for targets whose code needs one (SQL drivers, files); made once.
void ensureApp();

}  // namespace fuzzing
