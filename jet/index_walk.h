// Walking an index B-tree from its root to every leaf entry, in key order.
//
// Tree shape (see index_page.h): an intermediate page lists its children
// through its stored entries (each names a child page and repeats that
// child's last entry) and, when non-zero, its tail page, which is the last
// child and has no stored entry. Leaves of the same tree level are chained
// by prev/next pointers. A leaf appended after the tree was last rebuilt may
// be reachable only through the `next` pointer of the last leaf; the walk
// follows that chain after the descent, as other readers do.
//
// The walk is bounded: every page number is checked against the file,
// every page is visited at most once (a second visit is a cycle), and the
// depth is limited. Structural damage that stops the walk is returned as a
// Corruption status naming the page and offset of the bad pointer. Damage
// that does not stop it (an intermediate entry that does not repeat its
// child's last entry, a prev/next chain that disagrees with the tree) is
// reported as IndexProblem values.
#ifndef HVQ_JET_INDEX_WALK_H_
#define HVQ_JET_INDEX_WALK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format.h"
#include "jet/index_page.h"
#include "platform/status.h"

namespace hvq::jet {

class PageFile;

// A located problem in an index: page, byte offset within it, description.
struct IndexProblem {
  uint32_t page = 0;
  uint32_t offset = 0;
  std::string what;
};

// Where the walk gets pages from. `read` fills `out` (page_size bytes) with
// page `page` (decrypted) or fails.
struct IndexPageSource {
  const Format* format = nullptr;
  uint32_t page_count = 0;
  std::function<Status(uint32_t page, std::vector<uint8_t>* out)> read;
};

// Source backed by an open database file.
IndexPageSource PageSourceFor(PageFile& file);

// One leaf entry as the walk yields it, with its location.
struct IndexWalkEntry {
  const IndexEntry* entry = nullptr;
  uint32_t leaf_page = 0;
  uint32_t offset = 0;  // of the entry's stored bytes in the leaf page
};

struct IndexWalkOptions {
  uint32_t max_depth = 16;
};

struct IndexWalkStats {
  uint32_t leaf_pages = 0;
  uint32_t intermediate_pages = 0;
  uint32_t depth = 0;  // levels, 1 for a lone leaf
  uint64_t entries = 0;
  std::vector<uint32_t> pages;  // every page visited, in visiting order
};

// Walks the index whose root page is `root_page`, calling `visit` for every
// leaf entry in tree order. A non-OK status from `visit` stops the walk and
// is returned. `problems` (optional) collects non-fatal findings.
Status WalkIndex(const IndexPageSource& source, uint32_t root_page,
                 const std::function<Status(const IndexWalkEntry&)>& visit,
                 std::vector<IndexProblem>* problems = nullptr,
                 IndexWalkStats* stats = nullptr,
                 const IndexWalkOptions& options = {});

// Convenience: every leaf entry of the index, in order.
Result<std::vector<IndexEntry>> ReadIndexEntries(
    const IndexPageSource& source, uint32_t root_page,
    std::vector<IndexProblem>* problems = nullptr);

}  // namespace hvq::jet

#endif  // HVQ_JET_INDEX_WALK_H_
