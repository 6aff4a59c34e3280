// Index pages: leaf (type 0x04) and intermediate (type 0x03) pages of an
// index B-tree, Jet 3 and Jet 4.
//
// Layout (offsets from Format; all header integers little-endian):
//   0x00 u8   page type (0x03 intermediate, 0x04 leaf)
//   0x01 u8   always 0x01
//   free      u16 bytes left after the last entry
//   parent    u32 tdef page of the owning table
//   (Jet 4: u32 of unknown meaning, always 0 in real files; carried over)
//   prev/next u32 sibling pages on the same tree level (0 = none)
//   tail      u32 intermediate pages: last child page, which has no stored
//             entry of its own (0 = none)
//   prefix    u8 (Jet 3) / u16 (Jet 4) length of the shared entry prefix
//   node flag u8 1 on intermediate pages, 0 on leaves (carried over)
//   mask      bitmap, bit N (low bit first) set where an entry ends N bytes
//             after the start of the entry area; the first entry starts at 0
//   entries   packed back to back. The first entry is stored whole; every
//             later entry omits the first `prefix` bytes, which it shares
//             with the first entry.
// A full entry is: key bytes (big-endian, see index_key.h), then the row it
// stands for as a 3-byte big-endian data page and a 1-byte row number, then
// on intermediate pages a 4-byte big-endian child page. Entries on a page
// sort ascending by their full bytes. An intermediate entry repeats the last
// entry of the child it points to.
#ifndef HVQ_JET_INDEX_PAGE_H_
#define HVQ_JET_INDEX_PAGE_H_

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

// Largest data page an index entry can name (3 bytes).
inline constexpr uint32_t kIndexMaxDataPage = 0xFFFFFF;
// Bytes after the key: data page (3) + row (1); intermediate adds child (4).
inline constexpr uint32_t kIndexRowPointerSize = 4;
inline constexpr uint32_t kIndexChildPointerSize = 4;

struct IndexEntry {
  std::vector<uint8_t> key;  // flags + column bytes, never empty
  uint32_t data_page = 0;    // < 2^24
  uint8_t data_row = 0;
  uint32_t child_page = 0;  // intermediate entries only

  // Key, then page and row: the bytes that decide the sort order.
  std::vector<uint8_t> SortBytes() const;
  friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// Three-way comparison by key bytes, then data page, then row.
int CompareIndexEntries(const IndexEntry& a, const IndexEntry& b);

struct IndexPage {
  bool leaf = true;
  uint16_t free_space = 0;
  uint32_t parent_page = 0;  // tdef page
  uint32_t unknown = 0;      // Jet 4 only; carried over
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  uint16_t prefix_length = 0;
  uint8_t node_flag = 0;
  std::vector<IndexEntry> entries;
  // Byte offset within the page where each entry's stored bytes begin
  // (parallel to `entries`), for locating problems.
  std::vector<uint32_t> entry_offsets;
};

// Parses one index page. `page` must be exactly one page; `page_number` is
// only used to name the location in errors. Never writes to `page`.
// Checks: page type, marker byte, entry area bounds, entry sizes, prefix
// length, and that the free-space field agrees with the entry area.
// Entry order is not checked here (see index_check.h).
Result<IndexPage> ParseIndexPage(const Format& format, Bytes page,
                                 uint32_t page_number);

// Use the longest key prefix the entries share (capped by the format).
inline constexpr int kAutoPrefix = -1;

// Writes `page` (header fields and entries; free_space and entry_offsets are
// ignored and recomputed) into a fresh zero-filled page. `prefix_length`
// kAutoPrefix picks the longest common key prefix; an explicit value must be
// shared by all full entries. Fails with InvalidArgument when entries do not
// fit, are unsorted, or carry out-of-range pointers.
Result<std::vector<uint8_t>> BuildIndexPage(const Format& format,
                                            const IndexPage& page,
                                            int prefix_length = kAutoPrefix);

// Bytes of entry area one page offers.
uint32_t IndexPageCapacity(const Format& format);

// One built page of an index tree.
struct BuiltIndexPage {
  uint32_t page_number = 0;
  std::vector<uint8_t> bytes;
};

struct BuiltIndexTree {
  uint32_t root_page = 0;
  std::vector<BuiltIndexPage> pages;  // leaves first, root last
};

// Gives out a fresh page number for each call.
using PageAllocator = std::function<Result<uint32_t>()>;

// Rebuilding an index of a copied table (what a compactor does):
//   1. For every row written to the new file at (page, row) with values V
//      (def.columns order) and IndexCoversRow(def, index, V) (index_key.h):
//      key = EncodeIndexKey(format, def, index, V). When that is
//      NotSupported (collations and characters without tables), take the
//      key bytes of the row's entry in the source index instead
//      (ReadIndexEntries on the source file, matched by the row's source
//      page and row); both are the engine's own bytes and sort together.
//   2. Sort the entries with CompareIndexEntries.
//   3. BuildIndexTree(format, tdef_page, entries, allocator); write every
//      returned page at its number, set the real index's first page to
//      root_page and list the pages in the index's usage map.
// Packs `entries` (leaf entries: key, data page, row; must be strictly
// ascending by CompareIndexEntries) into leaf pages and, when more than one
// leaf is needed, intermediate levels up to a single root. Leaves and each
// intermediate level are chained by prev/next; every intermediate page names
// its last child as its tail page and stores entries for the others. An
// empty index is one empty leaf page. `fill_percent` (50..100) limits how
// full leaf pages get, leaving room for later inserts.
Result<BuiltIndexTree> BuildIndexTree(const Format& format, uint32_t tdef_page,
                                      const std::vector<IndexEntry>& entries,
                                      const PageAllocator& allocate_page,
                                      int fill_percent = 100);

// Builds one intermediate level over `children` (each names a page of the
// level below in child_page), one page per run [begin, end) of `groups`.
// Takes a page number per run from `allocate_page` before handing any page
// to `emit`; a run's last child is its page's tail page unless the run has
// only one child. Returns the level above: per page, its last child entry
// pointing at that page.
Result<std::vector<IndexEntry>> BuildIntermediateLevel(
    const std::vector<IndexEntry>& children,
    const std::vector<std::pair<size_t, size_t>>& groups,
    const PageAllocator& allocate_page,
    const std::function<Status(IndexPage& page, uint32_t number)>& emit);

}  // namespace hvq::jet

#endif  // HVQ_JET_INDEX_PAGE_H_
