#include "platform/program_path.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace hvq {

Result<std::string> ExeName() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return Status::FromErrno("readlink /proc/self/exe", errno);
    if (static_cast<size_t>(n) < buf.size()) {
      return std::string(buf.data(), static_cast<size_t>(n));
    }
    if (buf.size() >= (1u << 20)) {
      return Status::IoError("executable path too long");
    }
    buf.resize(buf.size() * 2);
  }
}

std::string ExtractFilePath(const std::string& file_name) {
  auto slash = file_name.rfind('/');
  if (slash == std::string::npos) return std::string();
  return file_name.substr(0, slash + 1);
}

}  // namespace hvq
