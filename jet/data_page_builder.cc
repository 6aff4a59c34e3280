// Data page builder. See data_page_builder.h for the layout.
#include "jet/data_page_builder.h"

#include <algorithm>
#include <string>

namespace hvq::jet {

DataPageBuilder::DataPageBuilder(const Format& format, uint32_t tdef_page,
                                 bool long_value)
    : format_(&format), tdef_page_(tdef_page), long_value_(long_value) {
  Reset();
}

void DataPageBuilder::Reset() {
  page_.assign(format_->page_size, 0);
  offsets_.clear();
  low_ = format_->page_size;
}

uint32_t DataPageBuilder::Room() const {
  if (offsets_.size() >= format_->max_rows_per_page) return 0;
  const uint32_t table_end =
      format_->data_row_table_offset + 2 * (row_count() + 1);
  return low_ > table_end ? low_ - table_end : 0;
}

bool DataPageBuilder::Fits(size_t row_size) const {
  return row_size > 0 && row_size <= Room();
}

Result<uint8_t> DataPageBuilder::AddRow(Bytes row, uint16_t flags) {
  if (!Fits(row.size())) {
    return Status::InvalidArgument("row of " + std::to_string(row.size()) +
                                   " bytes does not fit on the page");
  }
  low_ -= static_cast<uint32_t>(row.size());
  std::copy(row.begin(), row.end(), page_.begin() + low_);
  offsets_.push_back(static_cast<uint16_t>(low_ | flags));
  return static_cast<uint8_t>(offsets_.size() - 1);
}

Status DataPageBuilder::SetRowFlags(uint8_t row, uint16_t flags) {
  if (row >= offsets_.size()) {
    return Status::InvalidArgument("no row " + std::to_string(row));
  }
  offsets_[row] |= flags;
  return Status::Ok();
}

std::vector<uint8_t> DataPageBuilder::Build() const {
  std::vector<uint8_t> out = page_;
  const Format& f = *format_;
  out[0] = static_cast<uint8_t>(PageType::kData);
  out[1] = 0x01;
  if (long_value_) {
    std::copy(kLongValuePageTag.begin(), kLongValuePageTag.end(),
              out.begin() + f.data_tdef_offset);
  } else {
    StoreU32Le(&out[f.data_tdef_offset], tdef_page_);
  }
  StoreU16Le(&out[f.data_row_count_offset],
             static_cast<uint16_t>(offsets_.size()));
  for (size_t i = 0; i < offsets_.size(); ++i) {
    StoreU16Le(&out[f.data_row_table_offset + 2 * i], offsets_[i]);
  }
  const uint32_t table_end = f.data_row_table_offset + 2 * row_count();
  StoreU16Le(&out[f.data_free_space_offset],
             static_cast<uint16_t>(low_ - table_end));
  return out;
}

Status MarkRowDeleted(const Format& format, MutableBytes page, uint32_t row) {
  if (page.size() != format.page_size ||
      page[0] != static_cast<uint8_t>(PageType::kData)) {
    return Status::Corruption("not a data page", 0, 0);
  }
  uint16_t count = LoadU16Le(&page[format.data_row_count_offset]);
  if (row >= count) {
    return Status::Corruption("no row slot " + std::to_string(row), 0,
                              format.data_row_count_offset);
  }
  uint8_t* slot = &page[format.data_row_table_offset + 2 * row];
  StoreU16Le(slot, static_cast<uint16_t>(LoadU16Le(slot) | kRowDeletedMask));
  return Status::Ok();
}

}  // namespace hvq::jet
