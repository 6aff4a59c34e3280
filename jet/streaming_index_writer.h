// Index building in bounded memory, for indexes too large to sort and pack
// in memory (reusable by the builder and the compactor).
//
// IndexEntrySorter takes leaf entries in any order and gives them back in
// ascending order (by key, data page, row: the order of
// CompareIndexEntries). Entries are kept as packed records
//   u16 key length | key | u24 data page (big-endian) | u8 row
// so that comparing records bytewise after the length is the entry order.
// When the records exceed the memory budget they are sorted and spilled as
// a run to an unlinked temporary file; Drain merges the runs.
//
// StreamingIndexWriter packs ascending leaf entries into leaf pages as they
// arrive (each page is written at once, chained by prev/next), keeps one
// summary entry per leaf, and at Finish() builds the intermediate levels
// from those summaries: every intermediate page stores an entry per child
// except its last, which is the page's tail. Pages are encoded by
// BuildIndexPage (jet/index_page.h).
#ifndef HVQ_JET_STREAMING_INDEX_WRITER_H_
#define HVQ_JET_STREAMING_INDEX_WRITER_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "jet/index_page.h"
#include "platform/status.h"

namespace hvq::jet {

class IndexEntrySorter {
 public:
  explicit IndexEntrySorter(size_t memory_budget = 32u << 20);
  ~IndexEntrySorter();
  IndexEntrySorter(const IndexEntrySorter&) = delete;
  IndexEntrySorter& operator=(const IndexEntrySorter&) = delete;

  Status Add(const std::vector<uint8_t>& key, uint32_t data_page,
             uint8_t data_row);
  // Calls `emit` with every entry in ascending order, then empties the
  // sorter. Equal entries are all emitted.
  Status Drain(const std::function<Status(const IndexEntry&)>& emit);
  uint64_t size() const { return count_; }

 private:
  Status SpillRun();

  size_t budget_;
  std::vector<uint8_t> arena_;
  std::vector<uint32_t> offsets_;
  std::FILE* spill_ = nullptr;
  std::vector<std::pair<uint64_t, uint64_t>> runs_;  // file offset, bytes
  uint64_t spill_end_ = 0;
  uint64_t count_ = 0;
};

class StreamingIndexWriter {
 public:
  using Allocator = std::function<Result<uint32_t>()>;
  using PageSink = std::function<Status(uint32_t page, Bytes bytes)>;

  StreamingIndexWriter(const Format& format, uint32_t tdef_page,
                       Allocator allocate, PageSink sink);

  // Adds the next leaf entry; entries must be strictly ascending.
  Status Add(const IndexEntry& entry);
  // Writes the remaining pages; returns the root page.
  Result<uint32_t> Finish();
  // Every page written, in writing order.
  const std::vector<uint32_t>& pages() const { return pages_; }

 private:
  Status FlushLeaf(bool more);
  Status Emit(IndexPage& page, uint32_t number);

  const Format* format_;
  uint32_t tdef_page_;
  Allocator allocate_;
  PageSink sink_;
  uint32_t capacity_;
  std::vector<IndexEntry> leaf_;
  size_t leaf_bytes_ = 0;
  uint32_t leaf_number_ = 0;
  uint32_t prev_number_ = 0;
  bool have_last_ = false;
  IndexEntry last_;
  std::vector<IndexEntry> children_;  // one per leaf page written
  std::vector<uint32_t> pages_;
};

}  // namespace hvq::jet

#endif  // HVQ_JET_STREAMING_INDEX_WRITER_H_
