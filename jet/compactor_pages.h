// Page-level rewrites used by the compactor.
//
// RepackDataPage rewrites one data page (table rows or long values, type
// 0x01) so that its live rows sit back to back at the page end, in slot
// order, with no bytes of deleted rows left anywhere on the page. Row
// numbers do not change: a deleted slot keeps its number and flags and
// becomes empty (its offset equals the start of the row before it), and
// deleted slots after the last live one leave the row-offset table (one
// slot always stays: mdbtools misreads pages without any), so
// every pointer to a live row (index entries, overflow and long-value
// pointers) stays valid. The header is kept except for the row count and
// the free-space field, recomputed as the bytes between the row-offset
// table and the lowest row. Unused bytes are zero. Edits let the compactor
// bring an overflow row home: the pointer slot receives the row's bytes and the
// slot that held them becomes deleted.
#ifndef HVQ_JET_COMPACTOR_PAGES_H_
#define HVQ_JET_COMPACTOR_PAGES_H_

#include <cstdint>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

// A change to one row slot made while repacking.
struct RowEdit {
  enum class Kind {
    kReplace,  // the slot's row becomes `bytes`; its overflow-pointer flag
               // is cleared
    kDelete,   // the slot becomes an empty deleted slot
  };
  uint8_t row = 0;
  Kind kind = Kind::kReplace;
  std::vector<uint8_t> bytes;
};

struct RepackedPage {
  std::vector<uint8_t> bytes;
  uint32_t live_rows = 0;        // slots neither deleted nor overflow targets
  uint32_t deleted_rows = 0;     // deleted slots (kept empty or dropped)
  uint32_t bytes_reclaimed = 0;  // free space gained
};

// Repacks data page `page_number` held in `page` (plain, one page long),
// applying `edits` (at most one per row; rows must exist). Damage (bad
// row-offset table or extents) is a Corruption error; edits that do not fit
// the page are InvalidArgument.
Result<RepackedPage> RepackDataPage(const Format& format, uint32_t page_number,
                                    Bytes page,
                                    const std::vector<RowEdit>& edits = {});

// Bytes a repacked page would have free: page size less the header, the
// row-offset table and every live row.
Result<uint32_t> FreeSpaceAfterRepack(const Format& format,
                                      uint32_t page_number, Bytes page);

}  // namespace hvq::jet

#endif  // HVQ_JET_COMPACTOR_PAGES_H_
