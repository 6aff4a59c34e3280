// Long value reader.
#include "jet/long_value.h"

#include <set>
#include <string>

#include "jet/data_page.h"
#include "jet/page_file.h"

namespace hvq::jet {
namespace {

constexpr uint32_t kLengthMask = 0x3FFFFFFF;

// Walks the value; collects data into `data` (if non-null) and the rows
// visited into `rows` (if non-null).
Status Walk(PageFile& file, Bytes column_bytes, std::vector<uint8_t>* data,
            std::vector<RowPointer>* rows) {
  HVQ_ASSIGN_OR_RETURN(LongValueRef ref, ParseLongValueRef(column_bytes));
  uint64_t limit = uint64_t{file.page_count()} * file.page_size();
  if (ref.length > limit) {
    return Status::Corruption("long value length " +
                              std::to_string(ref.length) +
                              " exceeds the file size");
  }
  switch (ref.kind) {
    case LongValueKind::kInline: {
      if (column_bytes.size() - kLongValueRefSize < ref.length) {
        return Status::Corruption(
            "inline long value of " + std::to_string(ref.length) +
            " bytes overruns its column (" +
            std::to_string(column_bytes.size() - kLongValueRefSize) +
            " bytes)");
      }
      if (data) {
        data->assign(column_bytes.begin() + kLongValueRefSize,
                     column_bytes.begin() + kLongValueRefSize + ref.length);
      }
      return Status::Ok();
    }
    case LongValueKind::kSinglePage: {
      HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> row,
                           ReadRowAt(file, ref.pointer, "long value"));
      if (row.size() < ref.length) {
        return Status::Corruption(
            "long value row holds " + std::to_string(row.size()) +
                " bytes, reference says " + std::to_string(ref.length),
            ref.pointer.page, 0);
      }
      if (rows) rows->push_back(ref.pointer);
      if (data) data->assign(row.begin(), row.begin() + ref.length);
      return Status::Ok();
    }
    case LongValueKind::kChain: {
      std::set<uint32_t> seen;
      RowPointer ptr = ref.pointer;
      uint64_t collected = 0;
      if (data) data->clear();
      while (collected < ref.length) {
        if (!seen.insert(ptr.ToU32()).second) {
          return Status::Corruption("long value chain loops at page " +
                                        std::to_string(ptr.page) + " row " +
                                        std::to_string(ptr.row),
                                    ptr.page, 0);
        }
        HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> row,
                             ReadRowAt(file, ptr, "long value"));
        if (row.size() < 4) {
          return Status::Corruption("long value chain row too short", ptr.page,
                                    0);
        }
        if (rows) rows->push_back(ptr);
        uint64_t piece =
            std::min<uint64_t>(row.size() - 4, ref.length - collected);
        if (data)
          data->insert(data->end(), row.begin() + 4, row.begin() + 4 + piece);
        collected += piece;
        uint32_t next = LoadU32Le(row.data());
        if (collected < ref.length) {
          if (next == 0) {
            return Status::Corruption("long value chain ends after " +
                                          std::to_string(collected) + " of " +
                                          std::to_string(ref.length) + " bytes",
                                      ptr.page, 0);
          }
          ptr = RowPointer::FromU32(next);
        }
      }
      return Status::Ok();
    }
  }
  return Status::Internal("unreachable long value kind");
}

}  // namespace

Result<LongValueRef> ParseLongValueRef(Bytes column_bytes) {
  if (column_bytes.size() < kLongValueRefSize) {
    return Status::Corruption("long value reference shorter than 12 bytes");
  }
  uint32_t w = LoadU32Le(column_bytes.data());
  LongValueRef ref;
  ref.length = w & kLengthMask;
  uint8_t flags = column_bytes[3] & 0xC0;
  if (flags == kLongValueInline) {
    ref.kind = LongValueKind::kInline;
  } else if (flags == kLongValueSinglePage) {
    ref.kind = LongValueKind::kSinglePage;
  } else if (flags == kLongValueChain) {
    ref.kind = LongValueKind::kChain;
  } else {
    return Status::Corruption("long value reference has unknown flags 0xc0");
  }
  ref.pointer = RowPointer::FromU32(LoadU32Le(column_bytes.data() + 4));
  ref.unknown = LoadU32Le(column_bytes.data() + 8);
  return ref;
}

Result<std::vector<uint8_t>> ReadLongValue(PageFile& file, Bytes column_bytes) {
  std::vector<uint8_t> data;
  HVQ_RETURN_IF_ERROR(Walk(file, column_bytes, &data, nullptr));
  return data;
}

Result<std::vector<RowPointer>> LongValueRows(PageFile& file,
                                              Bytes column_bytes) {
  std::vector<RowPointer> rows;
  HVQ_RETURN_IF_ERROR(Walk(file, column_bytes, nullptr, &rows));
  return rows;
}

}  // namespace hvq::jet
