// The platform's file calls, behind an interface so that tests can inject
// faults at each step, and the one safe path by which a user's file is
// replaced.
//
// Contract of SafeReplace(from, to): `from` is a complete file in the same
// folder as `to`. It is flushed to disk, renamed over `to`, and the folder is
// flushed. Until the rename succeeds `to` is untouched; after it, `to` is the
// complete new file. There is no moment at which `to` is missing. The new
// file takes the permission bits `to` had (a shared database stays shared,
// a read-only one read-only), where the file system allows it.
#ifndef HVQ_PLATFORM_FILE_OPS_H_
#define HVQ_PLATFORM_FILE_OPS_H_

#include <functional>
#include <string>

#include "platform/status.h"

namespace hvq {

class FileOps {
 public:
  virtual ~FileOps() = default;

  // True when a regular file (or a link to one) exists at `path`.
  virtual bool FileExists(const std::string& path) = 0;
  virtual Status DeleteFile(const std::string& path) = 0;
  // Flushes the file's data and metadata to stable storage.
  virtual Status SyncFile(const std::string& path) = 0;
  // Atomically renames `from` to `to`, replacing `to` if it exists.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // Flushes a folder so that renames and deletions in it are durable.
  virtual Status SyncDir(const std::string& dir) = 0;
  // Gives `to` the permission bits of `from`, if `from` exists. Best
  // effort: some file systems keep no modes.
  virtual void CopyMode(const std::string& from, const std::string& to) = 0;
};

// The real POSIX implementation; lives for the whole process.
FileOps& PosixFileOps();

struct ReplaceOutcome {
  Status status;          // OK when every step succeeded
  bool replaced = false;  // the rename happened: `to` holds the new file
};

// Replaces `to` with `from` (see the contract above). Both must be in the
// same folder.
ReplaceOutcome SafeReplace(FileOps& ops, const std::string& from,
                           const std::string& to);

enum class CreateMode {
  kMustNotExist,  // fail with AlreadyExists when `path` exists at commit
  kReplace,       // replace `path` through SafeReplace
};

// Writes a new file at `path` so that `path` is never seen incomplete:
// `fill` writes the content through the descriptor of a fresh temporary file
// in the same folder; that file is then flushed and moved to `path` (for
// kMustNotExist without replacing anything, even a file that appeared
// meanwhile), and the folder is flushed. On any failure the temporary file is
// removed and `path` is left as it was. A crash leaves at most a stray
// temporary file named after `path`, never a partial `path`.
Status CreateFileAtomically(const std::string& path, CreateMode mode,
                            const std::function<Status(int fd)>& fill);

// The folder part of `path` including its trailing '/', or "./" when `path`
// has no folder part.
std::string DirectoryOf(const std::string& path);

}  // namespace hvq

#endif  // HVQ_PLATFORM_FILE_OPS_H_
