// Data page repacking; see compactor_pages.h.
#include "jet/compactor_pages.h"

#include <algorithm>
#include <cstring>

#include "jet/data_page.h"

namespace hvq::jet {

Result<RepackedPage> RepackDataPage(const Format& format, uint32_t page_number,
                                    Bytes page) {
  if (page.size() != format.page_size) {
    return Status::InvalidArgument("page buffer of " +
                                   std::to_string(page.size()) + " bytes");
  }
  HVQ_ASSIGN_OR_RETURN(DataPage dp, ParseDataPage(format, page_number, page));
  const size_t table_end =
      format.data_row_table_offset + dp.rows.size() * size_t{2};
  RepackedPage out;
  out.bytes.assign(format.page_size, 0);
  std::memcpy(out.bytes.data(), page.data(), table_end);
  size_t pos = format.page_size;
  for (size_t i = 0; i < dp.rows.size(); ++i) {
    const RowSlot& slot = dp.rows[i];
    if (!slot.deleted()) {
      const size_t len = size_t{slot.end} - slot.start;
      if (pos < table_end + len) {
        return Status::Corruption("rows overlap the row-offset table",
                                  page_number, slot.start);
      }
      pos -= len;
      std::memcpy(out.bytes.data() + pos, page.data() + slot.start, len);
      if (!slot.overflow_target()) ++out.live_rows;
    } else {
      ++out.deleted_rows;
    }
    const uint16_t raw = static_cast<uint16_t>((slot.raw & ~kRowOffsetMask) |
                                               (pos & kRowOffsetMask));
    StoreU16Le(out.bytes.data() + format.data_row_table_offset + 2 * i, raw);
  }
  const uint16_t free_space = static_cast<uint16_t>(pos - table_end);
  StoreU16Le(out.bytes.data() + format.data_free_space_offset, free_space);
  out.bytes_reclaimed =
      free_space > dp.free_space ? uint32_t{free_space} - dp.free_space : 0;
  return out;
}

}  // namespace hvq::jet
