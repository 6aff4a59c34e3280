// Status and Result<T>: errors as values.
//
// A Status is either OK or carries a code, a message and, for errors found
// inside a file, the page number and byte offset where the problem was seen.
// Result<T> holds either a value or a non-OK Status. Neither throws.
#ifndef HVQ_PLATFORM_STATUS_H_
#define HVQ_PLATFORM_STATUS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace hvq {

enum class StatusCode {
  kOk = 0,
  kInvalidArgument,
  kNotFound,
  kAlreadyExists,
  kPermissionDenied,
  kBusy,
  kIoError,
  kCorruption,
  kNotSupported,
  kInternal,
};

std::string_view StatusCodeName(StatusCode code);

class Status {
 public:
  Status() = default;  // OK

  static Status Ok() { return Status(); }
  static Status InvalidArgument(std::string msg) {
    return Status(StatusCode::kInvalidArgument, std::move(msg));
  }
  static Status NotFound(std::string msg) {
    return Status(StatusCode::kNotFound, std::move(msg));
  }
  static Status AlreadyExists(std::string msg) {
    return Status(StatusCode::kAlreadyExists, std::move(msg));
  }
  static Status PermissionDenied(std::string msg) {
    return Status(StatusCode::kPermissionDenied, std::move(msg));
  }
  static Status Busy(std::string msg) {
    return Status(StatusCode::kBusy, std::move(msg));
  }
  static Status IoError(std::string msg) {
    return Status(StatusCode::kIoError, std::move(msg));
  }
  // An I/O error from a failed system call: appends strerror(err).
  static Status FromErrno(std::string what, int err);
  static Status Corruption(std::string msg) {
    return Status(StatusCode::kCorruption, std::move(msg));
  }
  // A structural problem in a database file, located by page and byte offset
  // within that page.
  static Status Corruption(std::string msg, uint32_t page, uint32_t offset) {
    Status s(StatusCode::kCorruption, std::move(msg));
    s.page_ = page;
    s.offset_ = offset;
    return s;
  }
  static Status NotSupported(std::string msg) {
    return Status(StatusCode::kNotSupported, std::move(msg));
  }
  static Status Internal(std::string msg) {
    return Status(StatusCode::kInternal, std::move(msg));
  }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  const std::string& message() const { return message_; }
  std::optional<uint32_t> page() const { return page_; }
  std::optional<uint32_t> offset() const { return offset_; }

  // Returns a copy whose message is prefixed with `context` and ": ".
  Status WithContext(std::string_view context) const;

  // "corruption: bad row offset (page 12, offset 0x1a)"; "ok" when OK.
  std::string ToString() const;

 private:
  Status(StatusCode code, std::string msg)
      : code_(code), message_(std::move(msg)) {}

  StatusCode code_ = StatusCode::kOk;
  std::string message_;
  std::optional<uint32_t> page_;
  std::optional<uint32_t> offset_;
};

// Either a T or a non-OK Status. Constructing from an OK Status is a
// programming error and is turned into an internal error.
template <typename T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status)                      // NOLINT: implicit by design
      : v_(status.ok() ? Status::Internal("Result built from OK status")
                       : std::move(status)) {}

  bool ok() const { return std::holds_alternative<T>(v_); }
  const Status& status() const {
    static const Status kOk;
    return ok() ? kOk : std::get<Status>(v_);
  }
  T& value() & { return std::get<T>(v_); }
  const T& value() const& { return std::get<T>(v_); }
  T&& value() && { return std::get<T>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, Status> v_;
};

}  // namespace hvq

#define HVQ_CONCAT_INNER_(a, b) a##b
#define HVQ_CONCAT_(a, b) HVQ_CONCAT_INNER_(a, b)

#define HVQ_RETURN_IF_ERROR(expr)              \
  do {                                         \
    ::hvq::Status hvq_status_ = (expr);        \
    if (!hvq_status_.ok()) return hvq_status_; \
  } while (0)

#define HVQ_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                               \
  if (!tmp.ok()) return tmp.status();              \
  lhs = std::move(tmp).value()

#define HVQ_ASSIGN_OR_RETURN(lhs, expr) \
  HVQ_ASSIGN_OR_RETURN_IMPL_(HVQ_CONCAT_(hvq_result_, __LINE__), lhs, expr)

#endif  // HVQ_PLATFORM_STATUS_H_
