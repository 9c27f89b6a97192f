#pragma once
#include <QLockFile>
#include <QString>
#include <memory>

// One program per data folder: the folder's zide.lock, held while the program runs. A lock left by
// a program that is no longer running (killed, crashed) is taken over.
class InstanceLock {
 public:
  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock of the data folder; false when another running program holds it.
  bool acquire();
  bool held() const;
  // The lock file.
  static QString path();
  // What a second start tells the user.
  static QString busyMessage();

 private:
  std::unique_ptr<QLockFile> file_;
};
