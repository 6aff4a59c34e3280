// Streaming scan of a table's live rows.
//
// The table's pages come from its owned-pages usage map; each data page
// whose tdef pointer names the table is read slot by slot. Deleted slots
// are skipped; an overflow pointer slot (4 bytes: row u8, page u24) is
// followed to the row it names (at most kMaxOverflowHops hops, loops are
// Corruption); slots flagged as overflow targets are skipped because they
// are reached through their pointer.
#ifndef HVQ_JET_TABLE_SCAN_H_
#define HVQ_JET_TABLE_SCAN_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/byte_order.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

class PageFile;

// Maximum overflow pointers followed for one row.
inline constexpr int kMaxOverflowHops = 8;

// Where a row is: `page`/`row` is the slot that lists it (what indexes
// point at); `data_page`/`data_row` is where its bytes are (differs for
// overflow rows).
struct RowLocation {
  uint32_t page = 0;
  uint8_t row = 0;
  uint32_t data_page = 0;
  uint8_t data_row = 0;
};

// Pages the table's usage map says it owns (sorted).
Result<std::vector<uint32_t>> OwnedPages(PageFile& file, const TableDef& def);

// Resolves the row listed at (page, row), following overflow pointers.
// NotFound for a deleted slot.
Status ResolveRow(PageFile& file, uint32_t page, uint8_t row, RowLocation* loc,
                  std::vector<uint8_t>* bytes);

// Calls `visit` with the bytes of every live row; returning false stops
// the scan early (still OK).
using RawRowVisitor = std::function<bool(const RowLocation&, Bytes row)>;
Status ScanTable(PageFile& file, const TableDef& def,
                 const RawRowVisitor& visit);

}  // namespace hvq::jet

#endif  // HVQ_JET_TABLE_SCAN_H_
