// Page reading, decryption and the page cache.
#include "jet/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/rc4.h"

namespace hvq::jet {

PageFile::~PageFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::unique_ptr<PageFile>> PageFile::Open(const std::string& path,
                                                 size_t cache_pages) {
  std::unique_ptr<PageFile> f(new PageFile());
  f->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f->fd_ < 0) return Status::FromErrno("cannot open " + path, errno);
  struct stat st;
  if (::fstat(f->fd_, &st) != 0) {
    return Status::FromErrno("cannot stat " + path, errno);
  }
  if (!S_ISREG(st.st_mode)) {
    return Status::InvalidArgument(path + " is not a regular file");
  }
  f->file_size_ = static_cast<uint64_t>(st.st_size);
  HVQ_RETURN_IF_ERROR(f->Init(cache_pages));
  return f;
}

Result<std::unique_ptr<PageFile>> PageFile::FromBytes(
    std::vector<uint8_t> bytes, size_t cache_pages) {
  std::unique_ptr<PageFile> f(new PageFile());
  f->in_memory_ = true;
  f->memory_ = std::move(bytes);
  f->file_size_ = f->memory_.size();
  HVQ_RETURN_IF_ERROR(f->Init(cache_pages));
  return f;
}

Status PageFile::ReadRaw(uint64_t offset, MutableBytes out) {
  if (offset > file_size_ || out.size() > file_size_ - offset) {
    return Status::Corruption("read past end of file", 0, 0);
  }
  if (out.empty()) return Status::Ok();
  if (in_memory_) {
    std::memcpy(out.data(), memory_.data() + offset, out.size());
    return Status::Ok();
  }
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                        static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno("read failed", errno);
    }
    if (n == 0) return Status::IoError("unexpected end of file");
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

Status PageFile::Init(size_t cache_pages) {
  cache_capacity_ = cache_pages == 0 ? 1 : cache_pages;
  // The header needs at most the Jet 4 masked region; read what is there.
  std::vector<uint8_t> head(
      std::min<uint64_t>(file_size_, FormatFor(JetVersion::kJet4).page_size));
  HVQ_RETURN_IF_ERROR(ReadRaw(0, head));
  HVQ_ASSIGN_OR_RETURN(header_, ParseHeader(head));
  page_count_ = static_cast<uint32_t>(
      std::min<uint64_t>(file_size_ / header_.format->page_size, 0xFFFFFFu));
  if (page_count_ < 3) {
    return Status::Corruption("file holds " + std::to_string(page_count_) +
                                  " whole pages; a database needs at least 3",
                              page_count_, 0);
  }
  return Status::Ok();
}

Status PageFile::ReadPage(uint32_t page, MutableBytes out) {
  const uint32_t ps = page_size();
  if (out.size() != ps) {
    return Status::InvalidArgument("page buffer has wrong size");
  }
  if (page >= page_count_) {
    return Status::Corruption("page " + std::to_string(page) +
                                  " is past the end of the file (" +
                                  std::to_string(page_count_) + " pages)",
                              page, 0);
  }
  HVQ_RETURN_IF_ERROR(ReadRaw(uint64_t{page} * ps, out));
  if (page != 0 && header_.database_key != 0) {
    auto key = PageKey(header_.database_key, page);
    Rc4Apply(key, out);
  }
  return Status::Ok();
}

Result<PageRef> PageFile::GetPage(uint32_t page) {
  auto it = cache_.find(page);
  if (it != cache_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second.pos);
    return it->second.page;
  }
  auto buf = std::make_shared<std::vector<uint8_t>>(page_size());
  HVQ_RETURN_IF_ERROR(ReadPage(page, *buf));
  while (cache_.size() >= cache_capacity_ && !lru_.empty()) {
    cache_.erase(lru_.back());
    lru_.pop_back();
  }
  lru_.push_front(page);
  PageRef ref = std::move(buf);
  cache_.emplace(page, CacheEntry{ref, lru_.begin()});
  return ref;
}

Result<std::vector<uint8_t>> PageFile::ReadRawHeaderPage() {
  std::vector<uint8_t> out(page_size());
  HVQ_RETURN_IF_ERROR(ReadRaw(0, out));
  return out;
}

}  // namespace hvq::jet
