// Usage maps of a freshly laid-out file: the per-table records and the
// global map on page 1.
//
// UsageMapRecordSet collects the maps of tables, long-value columns and
// indexes while their pages are allocated. Each map becomes an inline record
// (u8 0 | u32 first page | bitmap) when its pages fit the span of one record
// (usage_map_table_bytes x 8 pages from the first page rounded down to a
// multiple of 8), else a reference record whose type-0x05 map pages are
// allocated and written at once. Place() packs the records, in the order
// they were added, onto data pages of their own (tdef field 0) and returns
// where each landed.
//
// WriteGlobalUsageMap writes page 1: a data page (tdef field 1) with the
// global map in row 0 and a copy in row 1, as real files have. A set bit is
// a free page; pages past the file count as free. Files larger than one
// inline record can name get a reference map; its map pages are allocated
// first so that they are covered too.
//
// Reused by every writer of fresh databases (builder, compactor).
#ifndef HVQ_JET_USAGE_MAP_WRITER_H_
#define HVQ_JET_USAGE_MAP_WRITER_H_

#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

using PageAllocator = std::function<Result<uint32_t>()>;
using PageSinkFn = std::function<Status(uint32_t page, Bytes bytes)>;

class UsageMapRecordSet {
 public:
  UsageMapRecordSet(const Format& format, PageAllocator allocate,
                    PageSinkFn sink)
      : format_(&format),
        allocate_(std::move(allocate)),
        sink_(std::move(sink)) {}

  // Adds the map of `pages` (any order, duplicates allowed); returns the
  // handle Place() resolves.
  Result<size_t> Add(std::vector<uint32_t> pages);

  // Writes every record added so far onto fresh pages; element i is where
  // the record of handle i lives.
  Result<std::vector<RowPointer>> Place();

 private:
  const Format* format_;
  PageAllocator allocate_;
  PageSinkFn sink_;
  std::vector<std::vector<uint8_t>> records_;
};

// Writes page 1 for a file whose pages are 0 .. page_count() - 1 once the
// map pages it may allocate are counted; `free_pages` lists the free ones.
Status WriteGlobalUsageMap(const Format& format,
                           const std::function<uint32_t()>& page_count,
                           const PageAllocator& allocate,
                           const std::unordered_set<uint32_t>& free_pages,
                           const PageSinkFn& sink);

}  // namespace hvq::jet

#endif  // HVQ_JET_USAGE_MAP_WRITER_H_
