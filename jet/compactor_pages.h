// Page-level rewrites used by the compactor.
//
// RepackDataPage rewrites one data page (table rows or long values, type
// 0x01) so that its live rows sit back to back at the page end, in slot
// order, with no bytes of deleted rows left anywhere on the page. Row
// numbers do not change: a deleted slot keeps its number and flags and
// becomes empty (its offset equals the start of the row before it), so
// every pointer to a live row (index entries, overflow and long-value
// pointers) stays valid. The header is kept except for the free-space
// field, recomputed as the bytes between the row-offset table and the
// lowest row. Unused bytes are zero.
#ifndef HVQ_JET_COMPACTOR_PAGES_H_
#define HVQ_JET_COMPACTOR_PAGES_H_

#include <cstdint>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

struct RepackedPage {
  std::vector<uint8_t> bytes;
  uint32_t live_rows = 0;        // slots neither deleted nor overflow targets
  uint32_t deleted_rows = 0;     // slots flagged deleted
  uint32_t bytes_reclaimed = 0;  // free space gained
};

// Repacks data page `page_number` held in `page` (plain, one page long).
// Damage (bad row-offset table or extents) is a Corruption error.
Result<RepackedPage> RepackDataPage(const Format& format, uint32_t page_number,
                                    Bytes page);

}  // namespace hvq::jet

#endif  // HVQ_JET_COMPACTOR_PAGES_H_
