// Exclusive use of a source database for the length of one request.
//
// A database counts as in use when another open file holds an OS lock on it
// (flock(2), or a POSIX/OFD record lock of any kind), or when the engine's
// lock file beside it ("name.ldb" for "name.mdb") exists and is locked. A
// lock file that exists but is not locked is a left-over and is ignored.
//
// While a SourceLock lives it holds flock(LOCK_EX) and an OFD read lock over
// the whole file on its own read-only descriptor, so other programs that lock
// see the file as busy. Both locks belong to this object's open file
// description: other descriptors of the same file may be opened and closed
// meanwhile without releasing them.
#ifndef HVQ_DRIVER_SOURCE_LOCK_H_
#define HVQ_DRIVER_SOURCE_LOCK_H_

#include <memory>
#include <string>

#include "platform/status.h"

namespace hvq::driver {

class SourceLock {
 public:
  // NotFound when `path` does not exist, InvalidArgument when it is not a
  // regular file, Busy when it is in use (see above).
  static Result<std::unique_ptr<SourceLock>> Acquire(const std::string& path);

  ~SourceLock();
  SourceLock(const SourceLock&) = delete;
  SourceLock& operator=(const SourceLock&) = delete;

 private:
  explicit SourceLock(int fd) : fd_(fd) {}
  int fd_;
};

// The engine's lock file for `path`: the extension ".mdb" (any case)
// replaced by ".ldb", else ".ldb" appended.
std::string LockFilePath(const std::string& path);

}  // namespace hvq::driver

#endif  // HVQ_DRIVER_SOURCE_LOCK_H_
