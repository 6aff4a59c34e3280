// Page access to a database file.
//
// A PageFile opens a file read-only (or wraps bytes in memory), learns the
// format and database key from page 0, and hands out whole pages. Pages of
// RC4-encrypted databases (database key != 0) are decrypted transparently
// with key = database key XOR page number (4 bytes LE); page 0 is never
// page-encrypted. The file is streamed: only a small LRU cache of pages is
// kept in memory. A page past the end of the file is a Corruption error
// naming the page. A trailing partial page does not count as a page.
//
// Not thread-safe; one PageFile per thread.
#ifndef HVQ_JET_PAGE_FILE_H_
#define HVQ_JET_PAGE_FILE_H_

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "jet/header.h"
#include "platform/status.h"

namespace hvq::jet {

// An immutable page, shared with the cache.
using PageRef = std::shared_ptr<const std::vector<uint8_t>>;

class PageFile {
 public:
  static constexpr size_t kDefaultCachePages = 64;

  // Opens `path` read-only and parses its header.
  static Result<std::unique_ptr<PageFile>> Open(
      const std::string& path, size_t cache_pages = kDefaultCachePages);
  // Wraps an in-memory image (tests, fuzzing).
  static Result<std::unique_ptr<PageFile>> FromBytes(
      std::vector<uint8_t> bytes, size_t cache_pages = kDefaultCachePages);

  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  const Format& format() const { return *header_.format; }
  const Header& header() const { return header_; }
  uint32_t page_size() const { return header_.format->page_size; }
  uint32_t page_count() const { return page_count_; }
  uint64_t file_size() const { return file_size_; }

  // Copies page `page` (decrypted) into `out`, which must be page_size()
  // bytes long.
  Status ReadPage(uint32_t page, MutableBytes out);
  // Returns page `page` (decrypted) through the cache.
  Result<PageRef> GetPage(uint32_t page);
  // Page 0 exactly as stored (masked header region included).
  Result<std::vector<uint8_t>> ReadRawHeaderPage();

 private:
  PageFile() = default;
  Status Init(size_t cache_pages);
  Status ReadRaw(uint64_t offset, MutableBytes out);

  int fd_ = -1;
  std::vector<uint8_t> memory_;
  bool in_memory_ = false;
  uint64_t file_size_ = 0;
  uint32_t page_count_ = 0;
  Header header_;
  size_t cache_capacity_ = kDefaultCachePages;
  std::list<uint32_t> lru_;  // most recent first
  struct CacheEntry {
    PageRef page;
    std::list<uint32_t>::iterator pos;
  };
  std::unordered_map<uint32_t, CacheEntry> cache_;
};

}  // namespace hvq::jet

#endif  // HVQ_JET_PAGE_FILE_H_
