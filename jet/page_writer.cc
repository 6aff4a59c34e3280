// Page output with optional RC4 page encryption. See page_writer.h.
#include "jet/page_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/rc4.h"

namespace hvq::jet {

Result<std::unique_ptr<PageWriter>> PageWriter::Create(const std::string& path,
                                                       const Format& format,
                                                       uint32_t database_key) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::FromErrno("cannot create " + path, errno);
  return std::unique_ptr<PageWriter>(
      new PageWriter(fd, /*owns_fd=*/true, format, database_key));
}

Result<std::unique_ptr<PageWriter>> PageWriter::ForFd(int fd,
                                                      const Format& format,
                                                      uint32_t database_key) {
  if (fd < 0) return Status::InvalidArgument("invalid output descriptor");
  return std::unique_ptr<PageWriter>(
      new PageWriter(fd, /*owns_fd=*/false, format, database_key));
}

PageWriter::~PageWriter() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

Status PageWriter::WritePage(uint32_t page_number, Bytes page) {
  const uint32_t ps = page_size();
  if (page.size() != ps) {
    return Status::InvalidArgument("page " + std::to_string(page_number) +
                                   " has " + std::to_string(page.size()) +
                                   " bytes, expected " + std::to_string(ps));
  }
  Bytes out = page;
  if (database_key_ != 0 && page_number != 0) {
    scratch_.assign(page.begin(), page.end());
    Rc4Apply(PageKey(database_key_, page_number), scratch_);
    out = scratch_;
  }
  const off_t offset = static_cast<off_t>(page_number) * ps;
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pwrite(fd_, out.data() + done, out.size() - done,
                         offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(
          "cannot write page " + std::to_string(page_number), errno);
    }
    done += static_cast<size_t>(n);
  }
  if (page_number >= page_count_) page_count_ = page_number + 1;
  return Status::Ok();
}

Status PageWriter::ReadPage(uint32_t page_number, MutableBytes out) {
  const uint32_t ps = page_size();
  if (out.size() != ps) return Status::InvalidArgument("bad page buffer size");
  if (page_number >= page_count_) {
    return Status::InvalidArgument("page " + std::to_string(page_number) +
                                   " has not been written");
  }
  const off_t offset = static_cast<off_t>(page_number) * ps;
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                        offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(
          "cannot read back page " + std::to_string(page_number), errno);
    }
    if (n == 0) {
      // A gap not yet padded reads as zeros.
      std::memset(out.data() + done, 0, out.size() - done);
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (database_key_ != 0 && page_number != 0) {
    Rc4Apply(PageKey(database_key_, page_number), out);
  }
  return Status::Ok();
}

Status PageWriter::Finish() {
  const off_t size = static_cast<off_t>(page_count_) * page_size();
  if (::ftruncate(fd_, size) != 0) {
    return Status::FromErrno("cannot size output file", errno);
  }
  if (::fsync(fd_) != 0) return Status::FromErrno("cannot sync output", errno);
  return Status::Ok();
}

}  // namespace hvq::jet
