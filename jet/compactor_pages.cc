// Data page repacking; see compactor_pages.h.
#include "jet/compactor_pages.h"

#include <algorithm>
#include <cstring>

#include "jet/data_page.h"

namespace hvq::jet {

Result<uint32_t> FreeSpaceAfterRepack(const Format& format,
                                      uint32_t page_number, Bytes page) {
  if (page.size() != format.page_size) {
    return Status::InvalidArgument("page buffer of " +
                                   std::to_string(page.size()) + " bytes");
  }
  HVQ_ASSIGN_OR_RETURN(DataPage dp, ParseDataPage(format, page_number, page));
  size_t used = format.data_row_table_offset + dp.rows.size() * size_t{2};
  for (const RowSlot& s : dp.rows) {
    if (!s.deleted()) used += size_t{s.end} - s.start;
  }
  if (used > format.page_size) {
    return Status::Corruption("rows overlap the row-offset table", page_number,
                              0);
  }
  return static_cast<uint32_t>(format.page_size - used);
}

Result<RepackedPage> RepackDataPage(const Format& format, uint32_t page_number,
                                    Bytes page,
                                    const std::vector<RowEdit>& edits) {
  if (page.size() != format.page_size) {
    return Status::InvalidArgument("page buffer of " +
                                   std::to_string(page.size()) + " bytes");
  }
  HVQ_ASSIGN_OR_RETURN(DataPage dp, ParseDataPage(format, page_number, page));
  RepackedPage out;
  out.bytes.assign(format.page_size, 0);
  size_t pos = format.page_size;
  std::vector<const RowEdit*> edit_of(dp.rows.size(), nullptr);
  for (const RowEdit& e : edits) {
    if (e.row >= dp.rows.size() || edit_of[e.row] != nullptr ||
        dp.rows[e.row].deleted()) {
      return Status::InvalidArgument("bad edit of row " +
                                     std::to_string(e.row) + " on page " +
                                     std::to_string(page_number));
    }
    edit_of[e.row] = &e;
  }
  // Deleted slots after the last live one are dropped from the table, but
  // one slot stays (see the header).
  size_t keep = dp.rows.size();
  while (keep > 1 && (dp.rows[keep - 1].deleted() ||
                      (edit_of[keep - 1] != nullptr &&
                       edit_of[keep - 1]->kind == RowEdit::Kind::kDelete))) {
    --keep;
  }
  out.deleted_rows = static_cast<uint32_t>(dp.rows.size() - keep);
  const size_t table_end = format.data_row_table_offset + keep * size_t{2};
  std::memcpy(out.bytes.data(), page.data(), format.data_row_table_offset);
  StoreU16Le(out.bytes.data() + format.data_row_count_offset,
             static_cast<uint16_t>(keep));
  for (size_t i = 0; i < keep; ++i) {
    const RowSlot& slot = dp.rows[i];
    const RowEdit* edit = edit_of[i];
    uint16_t flags = slot.raw & ~kRowOffsetMask;
    if (edit != nullptr && edit->kind == RowEdit::Kind::kDelete) {
      flags = kRowDeletedMask;
      ++out.deleted_rows;
    } else if (!slot.deleted()) {
      Bytes row = page.subspan(slot.start, size_t{slot.end} - slot.start);
      if (edit != nullptr) {
        row = edit->bytes;
        flags &= static_cast<uint16_t>(~kRowOverflowPointerFlag);
      }
      if (pos < table_end + row.size()) {
        if (edit != nullptr) {
          return Status::InvalidArgument("edited rows do not fit page " +
                                         std::to_string(page_number));
        }
        return Status::Corruption("rows overlap the row-offset table",
                                  page_number, slot.start);
      }
      pos -= row.size();
      std::memcpy(out.bytes.data() + pos, row.data(), row.size());
      if ((flags & kRowOverflowTargetFlag) == 0) ++out.live_rows;
    } else {
      ++out.deleted_rows;
    }
    const uint16_t raw = static_cast<uint16_t>(flags | (pos & kRowOffsetMask));
    StoreU16Le(out.bytes.data() + format.data_row_table_offset + 2 * i, raw);
  }
  const uint16_t free_space = static_cast<uint16_t>(pos - table_end);
  StoreU16Le(out.bytes.data() + format.data_free_space_offset, free_space);
  out.bytes_reclaimed =
      free_space > dp.free_space ? uint32_t{free_space} - dp.free_space : 0;
  return out;
}

}  // namespace hvq::jet
