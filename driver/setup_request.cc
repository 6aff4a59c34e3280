// One COMPACT_DB / REPAIR_DB request; see setup_request.h.
#include "driver/setup_request.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "driver/source_lock.h"
#include "jet/compact.h"
#include "platform/file_ops.h"

namespace hvq::driver {
namespace {

jet::CompactOptions OptionsFor(const DriverRequest& request) {
  jet::CompactOptions options;
  options.source_path = request.source;
  options.password = request.password;
  options.sort_order = request.sort_order;
  options.encrypt = request.encrypt;
  return options;
}

Status CheckDestination(const std::string& destination) {
  struct stat st;
  if (::lstat(destination.c_str(), &st) == 0) {
    return Status::AlreadyExists("the destination " + destination +
                                 " already exists; it was left untouched");
  }
  std::string dir = DirectoryOf(destination);
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Status::NotFound("the destination folder " + dir +
                            " does not exist");
  }
  return Status::Ok();
}

Status Compact(const DriverRequest& request) {
  HVQ_RETURN_IF_ERROR(CheckDestination(request.destination));
  HVQ_ASSIGN_OR_RETURN(std::unique_ptr<SourceLock> lock,
                       SourceLock::Acquire(request.source));
  jet::CompactOptions options = OptionsFor(request);
  return CreateFileAtomically(
      request.destination, CreateMode::kMustNotExist,
      [&](int fd) { return jet::CompactDatabase(options, fd); });
}

Status Repair(const DriverRequest& request) {
  HVQ_ASSIGN_OR_RETURN(std::unique_ptr<SourceLock> lock,
                       SourceLock::Acquire(request.source));
  jet::CompactOptions options = OptionsFor(request);
  return CreateFileAtomically(
      request.source, CreateMode::kReplace,
      [&](int fd) { return jet::CompactDatabase(options, fd); });
}

}  // namespace

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

Status RunRequest(const DriverRequest& request) {
  if (request.kind == RequestKind::kRepair) {
    return Repair(request).WithContext("REPAIR_DB " + request.source);
  }
  return Compact(request).WithContext("COMPACT_DB " + request.source + " -> " +
                                      request.destination);
}

}  // namespace hvq::driver
