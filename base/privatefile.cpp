#include "base/privatefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <cerrno>

namespace PrivateFile {

namespace {

QString errnoText(int e) { return QString::fromLocal8Bit(strerror(e)); }

bool writeAll(int fd, const char* data, qint64 size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size_t(qMin<qint64>(size, 1 << 20)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace

int create(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  // unlink() removes a planted link itself, never its target.
  if (::unlink(name.constData()) != 0 && errno != ENOENT) return -1;
  int fd;
  do {
    fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool copy(const QString& source, const QString& target, QString* error, bool* full) {
  if (full) *full = false;
  auto failed = [&](const QString& why, int e) {
    if (error) *error = why;
    if (full) *full = diskFull(QFileInfo(target).absolutePath(), e);
    return false;
  };
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return failed(in.errorString(), 0);
  const int fd = create(target);
  if (fd < 0) return failed(errnoText(errno), errno);
  QByteArray block;
  while (true) {
    block = in.read(1 << 20);
    if (block.isEmpty()) break;
    if (!writeAll(fd, block.constData(), block.size())) {
      const int e = errno;
      ::close(fd);
      QFile::remove(target);
      return failed(errnoText(e), e);
    }
  }
  const bool readFailed = in.error() != QFileDevice::NoError;
  const QString readError = in.errorString();
  if (::close(fd) != 0 || readFailed) {
    const int e = readFailed ? 0 : errno;
    QFile::remove(target);
    return failed(readFailed ? readError : errnoText(e), e);
  }
  return true;
}

bool diskFull(const QString& folder, int error) {
  if (error == ENOSPC || error == EDQUOT) return true;
  const QStorageInfo disk(folder);
  // Some paths lose errno on the way (a buffered write): a disk with next to nothing free is full.
  return disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < (64 << 10);
}

bool readRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why) {
  bytes->clear();
  auto refuse = [why](const QString& reason) {
    if (why) *why = reason;
    return false;
  };
  const QByteArray name = QFile::encodeName(path);
  // O_NONBLOCK: opening a FIFO returns at once instead of waiting for a writer.
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return refuse(QStringLiteral("o arquivo não pode ser lido (%1)").arg(errnoText(errno)));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refuse(QStringLiteral("não é um arquivo comum (um dispositivo, um FIFO ou uma pasta)"));
  }
  if (st.st_size > maxBytes) {
    ::close(fd);
    return refuse(QStringLiteral("arquivo grande demais (%1 bytes; o limite é %2)").arg(st.st_size).arg(maxBytes));
  }
  QFile f;
  if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return refuse(QStringLiteral("o arquivo não pode ser lido (%1)").arg(f.errorString()));
  }
  // One byte over the limit tells a file that grew since the check.
  *bytes = f.read(maxBytes + 1);
  if (f.error() != QFileDevice::NoError)
    return refuse(QStringLiteral("o arquivo não pode ser lido (%1)").arg(f.errorString()));
  if (bytes->size() > maxBytes) {
    bytes->clear();
    return refuse(QStringLiteral("arquivo grande demais (o limite é %1 bytes)").arg(maxBytes));
  }
  return true;
}

bool isRegular(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace PrivateFile
