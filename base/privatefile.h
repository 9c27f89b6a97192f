#pragma once
#include <QByteArray>
#include <QString>

// Files the program writes in its data folder, and files of others it reads.
//
// A neighbour who can plant a symbolic link where the program writes must not make it overwrite
// the link's target: every file the program writes is a new one, created exclusively (O_EXCL,
// O_NOFOLLOW) with mode 0600, after whatever stood at its name (a file, a link) is unlinked.
namespace PrivateFile {

// Opens `path` read-write as a new private file, removing the entry there first. The descriptor,
// or -1 with errno set.
int create(const QString& path);

// Copies `source` into a new private file `target` (as create()). On failure nothing is left at
// `target`, `error` says why and `diskFull` whether the disk ran out of room.
bool copy(const QString& source, const QString& target, QString* error = nullptr, bool* diskFull = nullptr);

// Whether a failed write in `folder` was the disk running out of room: errno, else the free space.
bool diskFull(const QString& folder, int error = 0);

// Reads a file of someone else (a certificate, a browser's profile list) without ever blocking:
// only a regular file (a link is followed to one) of at most `maxBytes`; a FIFO, a device or
// a larger file is refused with the reason, in Portuguese, in `why`.
bool readRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why = nullptr);
// Whether `path` names a regular file (a link is followed): what a library may open safely.
bool isRegular(const QString& path);

}  // namespace PrivateFile
