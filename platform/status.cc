#include "platform/status.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hvq {

std::string_view StatusCodeName(StatusCode code) {
  switch (code) {
    case StatusCode::kOk:
      return "ok";
    case StatusCode::kInvalidArgument:
      return "invalid argument";
    case StatusCode::kNotFound:
      return "not found";
    case StatusCode::kAlreadyExists:
      return "already exists";
    case StatusCode::kPermissionDenied:
      return "permission denied";
    case StatusCode::kBusy:
      return "busy";
    case StatusCode::kIoError:
      return "I/O error";
    case StatusCode::kCorruption:
      return "corruption";
    case StatusCode::kNotSupported:
      return "not supported";
    case StatusCode::kInternal:
      return "internal error";
  }
  return "unknown";
}

Status Status::FromErrno(std::string what, int err) {
  StatusCode code = StatusCode::kIoError;
  if (err == ENOENT) code = StatusCode::kNotFound;
  if (err == EEXIST) code = StatusCode::kAlreadyExists;
  if (err == EACCES || err == EPERM || err == EROFS) {
    code = StatusCode::kPermissionDenied;
  }
  if (err == EBUSY || err == EWOULDBLOCK) code = StatusCode::kBusy;
  return Status(code, what + ": " + std::strerror(err));
}

Status Status::WithContext(std::string_view context) const {
  if (ok()) return *this;
  Status s = *this;
  s.message_ = std::string(context) + ": " + message_;
  return s;
}

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string out(StatusCodeName(code_));
  out += ": ";
  out += message_;
  if (page_ || offset_) {
    char buf[64];
    if (page_ && offset_) {
      std::snprintf(buf, sizeof buf, " (page %u, offset 0x%x)", *page_,
                    *offset_);
    } else if (page_) {
      std::snprintf(buf, sizeof buf, " (page %u)", *page_);
    } else {
      std::snprintf(buf, sizeof buf, " (offset 0x%x)", *offset_);
    }
    out += buf;
  }
  return out;
}

}  // namespace hvq
