// Output file of database pages.
//
// A PageWriter owns a file descriptor opened for writing and stores whole
// pages at page_number * page_size. When a database key is set, every page
// except page 0 is RC4-encrypted on its way out with key = database key XOR
// page number (4 bytes little-endian), mirroring PageFile's decryption.
// Pages may be written in any order and rewritten; ReadPage returns the
// plain (decrypted) bytes of a page already written, so builders can patch
// pages (for example to mark rows deleted). The file length is always a
// whole number of pages: a gap left by an unwritten page is zero-filled
// when Finish() runs.
//
// Not thread-safe. Reusable by any writer of fresh databases (builder,
// compactor).
#ifndef HVQ_JET_PAGE_WRITER_H_
#define HVQ_JET_PAGE_WRITER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

class PageWriter {
 public:
  // Creates (truncates) `path`. The writer owns and closes the descriptor.
  static Result<std::unique_ptr<PageWriter>> Create(const std::string& path,
                                                    const Format& format,
                                                    uint32_t database_key);
  // Writes through `fd`, an empty file opened for writing (and reading, for
  // ReadPage) that the caller owns and closes.
  static Result<std::unique_ptr<PageWriter>> ForFd(int fd, const Format& format,
                                                   uint32_t database_key);
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  const Format& format() const { return *format_; }
  uint32_t page_size() const { return format_->page_size; }
  uint32_t database_key() const { return database_key_; }
  // Highest page written + 1.
  uint32_t page_count() const { return page_count_; }

  // Stores `page` (exactly page_size bytes, plain) as page `page_number`.
  Status WritePage(uint32_t page_number, Bytes page);
  // Reads back a page already written, decrypted.
  Status ReadPage(uint32_t page_number, MutableBytes out);
  // Pads the file to page_count() pages and fsyncs it.
  Status Finish();

 private:
  PageWriter(int fd, bool owns_fd, const Format& format, uint32_t key)
      : fd_(fd), owns_fd_(owns_fd), format_(&format), database_key_(key) {}

  int fd_ = -1;
  bool owns_fd_ = false;
  const Format* format_;
  uint32_t database_key_ = 0;
  uint32_t page_count_ = 0;
  std::vector<uint8_t> scratch_;
};

}  // namespace hvq::jet

#endif  // HVQ_JET_PAGE_WRITER_H_
