// OS locks on a source database and its lock file; see source_lock.h.
#include "driver/source_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace hvq::driver {
namespace {

// Whether some other open file holds a lock on `fd`'s file. Our own
// descriptor holds none when this is asked.
Result<bool> LockedByOthers(int fd, const std::string& path) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return true;
    return Status::FromErrno("lock " + path, errno);
  }
  ::flock(fd, LOCK_UN);
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // the whole file and beyond
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) {
    return Status::FromErrno("query the locks of " + path, errno);
  }
  return probe.l_type != F_UNLCK;
}

}  // namespace

std::string LockFilePath(const std::string& path) {
  if (path.size() >= 4) {
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mdb") return path.substr(0, path.size() - 4) + ".ldb";
  }
  return path + ".ldb";
}

Result<std::unique_ptr<SourceLock>> SourceLock::Acquire(
    const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT) {
      return Status::NotFound("the database " + path + " does not exist");
    }
    return Status::FromErrno("open the database " + path, err);
  }
  auto lock = std::unique_ptr<SourceLock>(new SourceLock(fd));
  struct stat st;
  if (::fstat(fd, &st) != 0) return Status::FromErrno("stat " + path, errno);
  if (!S_ISREG(st.st_mode)) {
    return Status::InvalidArgument(path + " is not a regular file");
  }
  HVQ_ASSIGN_OR_RETURN(bool busy, LockedByOthers(fd, path));
  if (busy) {
    return Status::Busy("the database " + path +
                        " is in use by another program (it holds a lock on "
                        "the file)");
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return Status::Busy("the database " + path +
                          " is in use by another program");
    }
    return Status::FromErrno("lock " + path, errno);
  }
  struct flock hold = {};
  hold.l_type = F_RDLCK;
  hold.l_whence = SEEK_SET;
  hold.l_start = 0;
  hold.l_len = 0;
  if (::fcntl(fd, F_OFD_SETLK, &hold) != 0) {
    if (errno == EAGAIN || errno == EACCES) {
      return Status::Busy("the database " + path +
                          " is in use by another program");
    }
    return Status::FromErrno("lock " + path, errno);
  }

  std::string ldb = LockFilePath(path);
  int ldb_fd = ::open(ldb.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (ldb_fd >= 0) {
    Result<bool> ldb_busy = LockedByOthers(ldb_fd, ldb);
    ::close(ldb_fd);
    if (!ldb_busy.ok()) return ldb_busy.status();
    if (*ldb_busy) {
      return Status::Busy("the database " + path +
                          " is in use by another program (its lock file " +
                          ldb + " is held)");
    }
  } else if (errno != ENOENT) {
    return Status::FromErrno("open the lock file " + ldb, errno);
  }
  return lock;
}

SourceLock::~SourceLock() {
  // Closing the only descriptor of the open file description releases both
  // the flock and the OFD lock.
  ::close(fd_);
}

}  // namespace hvq::driver
