// Usage maps: which pages belong to a table/index, or which are free.
//
// A usage map is a record (a row on a data page, named by a row pointer):
//   type 0 (inline):    u8 0 | u32 first page | bitmap...
//                       bit i (LSB first) set = page first+i is in the set
//   type 1 (reference): u8 1 | u32 map page... (0 = none)
//                       map page k (type 0x05: u8 5, u8 1, u16 0, bitmap
//                       from byte 4) covers pages k*B .. k*B+B-1 with
//                       B = (page size - 4) * 8; zero or negative (as
//                       signed) slots name no map page
// The global usage map is row 0 of page 1; there a set bit means the page
// is free, and pages past the end of its bitmap count as free too.
#ifndef HVQ_JET_USAGE_MAP_H_
#define HVQ_JET_USAGE_MAP_H_

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

class PageFile;

inline constexpr uint8_t kUsageMapInline = 0x00;
inline constexpr uint8_t kUsageMapReference = 0x01;

// Pages covered by one reference map page.
uint32_t PagesPerMapPage(const Format& format);

// Decodes a usage map record; map pages of type-1 maps are read through
// `file`. Result is sorted, without duplicates. A bit for a page at or past
// file.page_count() is Corruption unless `allow_past_end` (the global map
// runs past the end of the file; those bits are dropped). A map page past
// the end or of the wrong type is Corruption; `where` locates errors.
Result<std::vector<uint32_t>> DecodeUsageMap(PageFile& file, Bytes record,
                                             RowPointer where,
                                             bool allow_past_end = false);

// Reads the record at `ptr` and decodes it.
Result<std::vector<uint32_t>> ReadUsageMap(PageFile& file, RowPointer ptr);

// Record bytes at `ptr` (a row on a data page).
Result<std::vector<uint8_t>> ReadUsageMapRecord(PageFile& file, RowPointer ptr);

struct GlobalUsage {
  std::vector<uint32_t> free_pages;  // below page_count, sorted
  uint32_t mapped_pages = 0;         // pages the bitmap covers
  std::vector<uint32_t> map_pages;   // type 0x05 pages used (type 1 maps)
};
// Decodes the global usage map (page 1, row 0).
Result<GlobalUsage> ReadGlobalUsage(PageFile& file);

// Builds an inline (type 0) record of `record_size` bytes holding `pages`
// relative to `first_page`. A page outside the bitmap is InvalidArgument.
Result<std::vector<uint8_t>> BuildInlineUsageMap(
    const std::vector<uint32_t>& pages, uint32_t first_page,
    size_t record_size);

struct ReferenceUsageMap {
  std::vector<uint8_t> record;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> map_pages;
};
// Builds a reference (type 1) record of `record_size` bytes plus the map
// pages it needs; `allocate` hands out the page number of each new map
// page. Pages beyond what the record can address are InvalidArgument.
Result<ReferenceUsageMap> BuildReferenceUsageMap(
    const Format& format, const std::vector<uint32_t>& pages,
    size_t record_size, const std::function<uint32_t()>& allocate);

}  // namespace hvq::jet

#endif  // HVQ_JET_USAGE_MAP_H_
