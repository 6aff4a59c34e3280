// Table row scan.
#include "jet/table_scan.h"

#include <string>

#include "jet/data_page.h"
#include "jet/page_file.h"
#include "jet/usage_map.h"

namespace hvq::jet {

Result<std::vector<uint32_t>> OwnedPages(PageFile& file, const TableDef& def) {
  return ReadUsageMap(file, def.owned_pages);
}

Status ResolveRow(PageFile& file, uint32_t page, uint8_t row, RowLocation* loc,
                  std::vector<uint8_t>* bytes) {
  loc->page = page;
  loc->row = row;
  uint32_t cur_page = page;
  uint8_t cur_row = row;
  for (int hop = 0; hop <= kMaxOverflowHops; ++hop) {
    if (cur_page == 0 || cur_page >= file.page_count()) {
      return Status::Corruption("row pointer names page " +
                                    std::to_string(cur_page) +
                                    ", outside the file",
                                page, 0);
    }
    HVQ_ASSIGN_OR_RETURN(PageRef p, file.GetPage(cur_page));
    HVQ_ASSIGN_OR_RETURN(DataPage dp,
                         ParseDataPage(file.format(), cur_page, *p));
    if (cur_row >= dp.rows.size()) {
      return Status::Corruption("row " + std::to_string(cur_row) +
                                    " is past the row table of page " +
                                    std::to_string(cur_page),
                                cur_page, 0);
    }
    const RowSlot& slot = dp.rows[cur_row];
    if (slot.deleted()) {
      if (hop == 0) return Status::NotFound("deleted row");
      return Status::Corruption(
          "overflow pointer of page " + std::to_string(page) + " row " +
              std::to_string(row) + " leads to a deleted row",
          cur_page, 0);
    }
    Bytes rb = Bytes(*p).subspan(slot.start, slot.end - slot.start);
    if (slot.overflow_pointer()) {
      if (rb.size() < 4) {
        return Status::Corruption("overflow pointer row shorter than 4 bytes",
                                  cur_page, slot.start);
      }
      cur_row = rb[0];
      cur_page = LoadU24Le(rb.data() + 1);
      continue;
    }
    loc->data_page = cur_page;
    loc->data_row = cur_row;
    bytes->assign(rb.begin(), rb.end());
    return Status::Ok();
  }
  return Status::Corruption("overflow pointers of page " +
                                std::to_string(page) + " row " +
                                std::to_string(row) + " exceed " +
                                std::to_string(kMaxOverflowHops) + " hops",
                            page, 0);
}

Status ScanTable(PageFile& file, const TableDef& def,
                 const RawRowVisitor& visit) {
  HVQ_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, OwnedPages(file, def));
  std::vector<uint8_t> bytes;
  for (uint32_t pn : pages) {
    HVQ_ASSIGN_OR_RETURN(PageRef p, file.GetPage(pn));
    if ((*p)[0] != static_cast<uint8_t>(PageType::kData)) continue;
    HVQ_ASSIGN_OR_RETURN(DataPage dp, ParseDataPage(file.format(), pn, *p));
    if (dp.long_value || dp.tdef_page != def.first_page) continue;
    for (size_t r = 0; r < dp.rows.size(); ++r) {
      const RowSlot& slot = dp.rows[r];
      if (slot.deleted() || slot.overflow_target()) continue;
      RowLocation loc;
      HVQ_RETURN_IF_ERROR(
          ResolveRow(file, pn, static_cast<uint8_t>(r), &loc, &bytes));
      if (!visit(loc, bytes)) return Status::Ok();
    }
  }
  return Status::Ok();
}

}  // namespace hvq::jet
