#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace hvq {
namespace {

Status SyncPath(const std::string& path, int flags, const char* what) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(std::string(what) + " " + path, errno);
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0) return Status::FromErrno(std::string(what) + " " + path, err);
  return Status::Ok();
}

class PosixFileOpsImpl final : public FileOps {
 public:
  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  Status DeleteFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) {
      return Status::FromErrno("delete " + path, errno);
    }
    return Status::Ok();
  }
  Status SyncFile(const std::string& path) override {
    return SyncPath(path, O_RDONLY, "fsync");
  }
  Status Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) {
      return Status::FromErrno("rename " + from + " to " + to, errno);
    }
    return Status::Ok();
  }
  Status SyncDir(const std::string& dir) override {
    return SyncPath(dir, O_RDONLY | O_DIRECTORY, "fsync folder");
  }
  void CopyMode(const std::string& from, const std::string& to) override {
    struct stat st;
    if (::stat(from.c_str(), &st) == 0) {
      (void)::chmod(to.c_str(), st.st_mode & 07777);
    }
  }
};

// The process's file mode mask, read without changing it (umask(2) can only
// be read by setting it, which would race with other threads).
mode_t ProcessUmask() {
  FILE* f = std::fopen("/proc/self/status", "re");
  unsigned mask = 022;
  if (f != nullptr) {
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(f);
  }
  return static_cast<mode_t>(mask & 0777);
}

// Moves `from` to `to` unless `to` exists. Filesystems without
// RENAME_NOREPLACE get link + unlink, which refuses an existing `to` too.
Status MoveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return Status::Ok();
  }
  int err = errno;
  if (err == EEXIST) return Status::AlreadyExists(to + " already exists");
  if (err != EINVAL && err != ENOSYS) {
    return Status::FromErrno("rename " + from + " to " + to, err);
  }
  if (::link(from.c_str(), to.c_str()) != 0) {
    err = errno;
    if (err == EEXIST) return Status::AlreadyExists(to + " already exists");
    return Status::FromErrno("link " + from + " to " + to, err);
  }
  ::unlink(from.c_str());
  return Status::Ok();
}

}  // namespace

Status CreateFileAtomically(const std::string& path, CreateMode mode,
                            const std::function<Status(int fd)>& fill) {
  std::string dir = DirectoryOf(path);
  std::string name = path.substr(dir.size());
  if (name.empty()) return Status::InvalidArgument("no file name in " + path);
  if (mode == CreateMode::kMustNotExist && PosixFileOps().FileExists(path)) {
    return Status::AlreadyExists(path + " already exists");
  }
  std::string temp = dir + "." + name + ".tmp-XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Status::FromErrno("create a file in " + dir, errno);
  // mkostemp makes the file private; give it the mode a new file would get.
  mode_t mask = ProcessUmask();
  Status st;
  if (::fchmod(fd, 0666 & ~mask) != 0) {
    st = Status::FromErrno("set the mode of " + temp, errno);
  }
  if (st.ok()) st = fill(fd);
  if (st.ok() && ::fsync(fd) != 0)
    st = Status::FromErrno("fsync " + temp, errno);
  if (::close(fd) != 0 && st.ok()) {
    st = Status::FromErrno("close " + temp, errno);
  }
  if (st.ok()) {
    if (mode == CreateMode::kMustNotExist) {
      st = MoveNoReplace(temp, path);
      if (st.ok()) {
        st = PosixFileOps().SyncDir(dir);
        return st;  // `path` now holds the complete file either way
      }
    } else {
      ReplaceOutcome out = SafeReplace(PosixFileOps(), temp, path);
      if (out.replaced) return out.status;
      st = out.status;
    }
  }
  ::unlink(temp.c_str());
  return st;
}

FileOps& PosixFileOps() {
  static PosixFileOpsImpl ops;
  return ops;
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

ReplaceOutcome SafeReplace(FileOps& ops, const std::string& from,
                           const std::string& to) {
  ReplaceOutcome out;
  if (DirectoryOf(from) != DirectoryOf(to)) {
    out.status = Status::InvalidArgument(
        "replacement must stay in one folder: " + from + " -> " + to);
    return out;
  }
  ops.CopyMode(to, from);
  out.status = ops.SyncFile(from);
  if (!out.status.ok()) return out;
  out.status = ops.Rename(from, to);
  if (!out.status.ok()) return out;
  out.replaced = true;
  out.status = ops.SyncDir(DirectoryOf(to));
  return out;
}

}  // namespace hvq
