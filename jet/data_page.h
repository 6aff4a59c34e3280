// Data pages (type 0x01): header and row-offset table.
//
// Layout (offsets per version in jet/format.h):
//   0      u8   page type 0x01
//   1      u8   unknown (1)
//   2      u16  free space
//   4      u32  owning table's tdef page, or "LVAL" on long-value pages
//   (Jet 4 has an unknown u32 at 8)
//   8/12   u16  number of row slots
//   10/14  u16[n] row-offset table; each entry's low 13 bits are the row's
//               start offset, the high bits its flags (see format.h)
// Rows are stored from the page end downwards: row i spans from its offset
// to the offset of row i-1 (the page end for row 0).
#ifndef HVQ_JET_DATA_PAGE_H_
#define HVQ_JET_DATA_PAGE_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

struct RowSlot {
  uint16_t raw = 0;    // the stored u16
  uint16_t start = 0;  // first byte of the row
  uint16_t end = 0;    // one past the last byte
  bool deleted() const { return (raw & kRowDeletedMask) == kRowDeletedMask; }
  bool overflow_pointer() const {
    return !deleted() && (raw & kRowOverflowPointerFlag) != 0;
  }
  bool overflow_target() const {
    return !deleted() && (raw & kRowOverflowTargetFlag) != 0;
  }
};

struct DataPage {
  uint32_t page = 0;
  uint16_t free_space = 0;
  uint32_t tdef_page = 0;     // 0 for long-value pages
  bool long_value = false;    // "LVAL" tag instead of a tdef page
  std::vector<RowSlot> rows;  // slot i = row number i

  // Bytes of row `row` within `page_bytes`. Deleted slots are NotFound;
  // slot numbers past the table are Corruption.
  Result<Bytes> RowBytes(Bytes page_bytes, uint32_t row) const;
};

// Parses the header and row-offset table of a data page; every slot's
// extent is checked to lie after the offset table and within the page.
// Deleted slots are not checked (their extent is not meaningful).
Result<DataPage> ParseDataPage(const Format& format, uint32_t page_number,
                               Bytes page);

// Builds an empty data page for table `tdef_page` (writers).
std::vector<uint8_t> BuildEmptyDataPage(const Format& format,
                                        uint32_t tdef_page);

class PageFile;

// A copy of the row that `ptr` names on a data page of `file`. Errors name
// the pointer's owner (`what`, e.g. "long value") and the page.
Result<std::vector<uint8_t>> ReadRowAt(PageFile& file, RowPointer ptr,
                                       std::string_view what);

}  // namespace hvq::jet

#endif  // HVQ_JET_DATA_PAGE_H_
