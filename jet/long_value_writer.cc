// Long-value writer. See long_value_writer.h for the layout.
#include "jet/long_value_writer.h"

#include <string>

namespace hvq::jet {

std::vector<uint8_t> EncodeLongValueRef(uint32_t length, uint8_t kind,
                                        uint32_t row_pointer) {
  std::vector<uint8_t> ref(kLongValueRefSize, 0);
  StoreU24Le(ref.data(), length);
  ref[3] = kind;
  StoreU32Le(ref.data() + 4, row_pointer);
  return ref;
}

LongValueWriter::LongValueWriter(const Format& format, Allocator allocate,
                                 PageSink sink)
    : format_(&format),
      allocate_(std::move(allocate)),
      sink_(std::move(sink)) {}

uint32_t LongValueWriter::MaxRowBytes() const {
  return format_->page_size - format_->data_row_table_offset - 2;
}

Result<uint32_t> LongValueWriter::AddPiece(Bytes row) {
  if (open_ != nullptr && !open_->Fits(row.size())) {
    HVQ_RETURN_IF_ERROR(Flush());
  }
  if (open_ == nullptr) {
    HVQ_ASSIGN_OR_RETURN(open_page_, allocate_());
    pages_.push_back(open_page_);
    open_ = std::make_unique<DataPageBuilder>(*format_, 0, /*long_value=*/true);
  }
  HVQ_ASSIGN_OR_RETURN(uint8_t r, open_->AddRow(row));
  return (open_page_ << 8) | r;
}

Status LongValueWriter::Flush() {
  if (open_ == nullptr) return Status::Ok();
  std::vector<uint8_t> page = open_->Build();
  open_.reset();
  return sink_(open_page_, page);
}

Result<RowField> LongValueWriter::Store(Bytes data, LongValueStorage storage) {
  if (data.size() > 0x3FFFFFFF) {
    return Status::InvalidArgument("long value too large");
  }
  const uint32_t len = static_cast<uint32_t>(data.size());
  const uint32_t max_row = MaxRowBytes();
  if (storage == LongValueStorage::kAuto) {
    storage = len <= format_->long_value_max_inline ? LongValueStorage::kInline
              : len <= max_row ? LongValueStorage::kSinglePage
                               : LongValueStorage::kChain;
  }
  RowField field;
  field.present = true;
  switch (storage) {
    case LongValueStorage::kInline: {
      if (len > 0xFFFFFF || len + kLongValueRefSize > format_->max_row_size) {
        return Status::InvalidArgument("long value too large to store inline");
      }
      field.data = EncodeLongValueRef(len, kLongValueInline, 0);
      field.data.insert(field.data.end(), data.begin(), data.end());
      return field;
    }
    case LongValueStorage::kSinglePage: {
      if (len == 0 || len > max_row) {
        return Status::InvalidArgument("long value of " + std::to_string(len) +
                                       " bytes cannot be one LVAL row");
      }
      HVQ_ASSIGN_OR_RETURN(uint32_t ptr, AddPiece(data));
      field.data = EncodeLongValueRef(len, kLongValueSinglePage, ptr);
      return field;
    }
    case LongValueStorage::kChain:
    default: {
      if (len == 0) {
        return Status::InvalidArgument("an empty long value has no chain");
      }
      const uint32_t next_size = format_->long_value_chain_next_size;
      const uint32_t piece = max_row - next_size;
      const uint32_t pieces = (len + piece - 1) / piece;
      // Written last piece first so each piece knows its successor.
      uint32_t next = 0;
      std::vector<uint8_t> row;
      for (uint32_t i = pieces; i-- > 0;) {
        const uint32_t start = i * piece;
        const uint32_t n = std::min(piece, len - start);
        row.assign(next_size, 0);
        StoreU32Le(row.data(), next);
        row.insert(row.end(), data.begin() + start, data.begin() + start + n);
        HVQ_ASSIGN_OR_RETURN(next, AddPiece(row));
      }
      field.data = EncodeLongValueRef(len, kLongValueChain, next);
      return field;
    }
  }
}

}  // namespace hvq::jet
