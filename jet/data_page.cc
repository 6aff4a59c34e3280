// Data page header and row-offset table reader.
#include "jet/data_page.h"

#include <algorithm>
#include <string>

#include "jet/page_file.h"

namespace hvq::jet {

Result<DataPage> ParseDataPage(const Format& f, uint32_t page_number,
                               Bytes page) {
  if (page.size() != f.page_size) {
    return Status::Corruption("data page has wrong size", page_number, 0);
  }
  if (page[0] != static_cast<uint8_t>(PageType::kData)) {
    return Status::Corruption("page " + std::to_string(page_number) +
                                  " is not a data page (type " +
                                  std::to_string(page[0]) + ")",
                              page_number, 0);
  }
  DataPage dp;
  dp.page = page_number;
  dp.free_space = LoadU16Le(page.data() + f.data_free_space_offset);
  dp.long_value = std::equal(kLongValuePageTag.begin(), kLongValuePageTag.end(),
                             page.begin() + f.data_tdef_offset);
  if (!dp.long_value)
    dp.tdef_page = LoadU32Le(page.data() + f.data_tdef_offset);
  uint16_t count = LoadU16Le(page.data() + f.data_row_count_offset);
  size_t table_end = f.data_row_table_offset + size_t{count} * 2;
  if (count > f.max_rows_per_page || table_end > page.size()) {
    return Status::Corruption(
        "row count " + std::to_string(count) + " does not fit the page",
        page_number, f.data_row_count_offset);
  }
  dp.rows.resize(count);
  uint16_t prev_end = static_cast<uint16_t>(f.page_size);
  for (uint16_t i = 0; i < count; ++i) {
    RowSlot& s = dp.rows[i];
    s.raw = LoadU16Le(page.data() + f.data_row_table_offset + 2 * i);
    s.start = s.raw & kRowOffsetMask;
    s.end = prev_end;
    if (!s.deleted()) {
      if (s.start < table_end || s.start > s.end) {
        return Status::Corruption(
            "row " + std::to_string(i) + " has bad extent [" +
                std::to_string(s.start) + ", " + std::to_string(s.end) + ")",
            page_number, f.data_row_table_offset + 2 * i);
      }
    }
    // The next row ends where this one starts, deleted or not; a damaged
    // deleted offset is clamped so later extents stay inside the page.
    if (s.start >= table_end && s.start <= prev_end) prev_end = s.start;
  }
  return dp;
}

Result<Bytes> DataPage::RowBytes(Bytes page_bytes, uint32_t row) const {
  if (row >= rows.size()) {
    return Status::Corruption("row " + std::to_string(row) +
                                  " is past the row table (" +
                                  std::to_string(rows.size()) + " rows)",
                              page, 0);
  }
  const RowSlot& s = rows[row];
  if (s.deleted()) {
    return Status::NotFound("row " + std::to_string(row) + " of page " +
                            std::to_string(page) + " is deleted");
  }
  if (s.end > page_bytes.size() || s.start > s.end) {
    return Status::Corruption("row extent outside page", page, s.start);
  }
  return page_bytes.subspan(s.start, s.end - s.start);
}

std::vector<uint8_t> BuildEmptyDataPage(const Format& f, uint32_t tdef_page) {
  std::vector<uint8_t> p(f.page_size, 0);
  p[0] = static_cast<uint8_t>(PageType::kData);
  p[1] = 0x01;
  StoreU16Le(p.data() + f.data_free_space_offset,
             static_cast<uint16_t>(f.page_size - f.data_row_table_offset));
  StoreU32Le(p.data() + f.data_tdef_offset, tdef_page);
  return p;
}

Result<std::vector<uint8_t>> ReadRowAt(PageFile& file, RowPointer ptr,
                                       std::string_view what) {
  if (ptr.page == 0 || ptr.page >= file.page_count()) {
    return Status::Corruption(std::string(what) + " points at page " +
                                  std::to_string(ptr.page) +
                                  ", outside the file",
                              ptr.page, 0);
  }
  HVQ_ASSIGN_OR_RETURN(PageRef page, file.GetPage(ptr.page));
  HVQ_ASSIGN_OR_RETURN(DataPage dp,
                       ParseDataPage(file.format(), ptr.page, *page));
  auto bytes = dp.RowBytes(*page, ptr.row);
  if (!bytes.ok()) {
    return Status::Corruption(
        std::string(what) + " row " + std::to_string(ptr.row) + " on page " +
            std::to_string(ptr.page) + ": " + bytes.status().message(),
        ptr.page, 0);
  }
  return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace hvq::jet
