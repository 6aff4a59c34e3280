#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
};

}  // namespace

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
    out.status = Status::InvalidArgument("replacement must stay in one folder: " +
                                         from + " -> " + to);
    return out;
  }
  out.status = ops.SyncFile(from);
  if (!out.status.ok()) return out;
  out.status = ops.Rename(from, to);
  if (!out.status.ok()) return out;
  out.replaced = true;
  out.status = ops.SyncDir(DirectoryOf(to));
  return out;
}

}  // namespace hvq
