// Row cracking and value decoding.
#include "jet/row.h"

#include <string>

#include "jet/long_value.h"
#include "jet/page_file.h"
#include "jet/text.h"

namespace hvq::jet {
namespace {

Status Bad(const std::string& what, uint32_t page, uint32_t offset) {
  return Status::Corruption("row: " + what, page, offset);
}

}  // namespace

Result<std::vector<ColumnSlice>> CrackRow(const Format& f, const TableDef& def,
                                          Bytes row, uint32_t page,
                                          uint32_t offset) {
  const size_t len = row.size();
  const size_t cc_size = f.row_column_count_size;
  if (len < cc_size) return Bad("shorter than its column count", page, offset);
  uint32_t row_cols = cc_size == 1 ? row[0] : LoadU16Le(row.data());
  size_t mask_size = (size_t{row_cols} + 7) / 8;
  if (mask_size + cc_size > len) {
    return Bad("null mask of " + std::to_string(row_cols) +
                   " columns does not fit " + std::to_string(len) + " bytes",
               page, offset);
  }
  const size_t mask_pos = len - mask_size;
  auto present_bit = [&](uint16_t number) {
    if (number >= row_cols) return false;
    return (row[mask_pos + number / 8] >> (number % 8) & 1) != 0;
  };

  // Variable offsets: var_offsets[i] .. var_offsets[i+1] is column i's data;
  // var_offsets[row_var] is end-of-data.
  std::vector<uint32_t> var_offsets;
  uint32_t row_var = 0;
  if (def.var_column_count > 0) {
    if (f.row_var_offset_size == 2) {
      if (mask_pos < 2 + cc_size)
        return Bad("no room for var count", page, offset);
      row_var = LoadU16Le(row.data() + mask_pos - 2);
      size_t need = 2 + 2 * (size_t{row_var} + 1);
      if (need + cc_size > mask_pos) {
        return Bad("variable offset table of " + std::to_string(row_var) +
                       " entries does not fit",
                   page, offset);
      }
      var_offsets.resize(row_var + 1);
      for (uint32_t i = 0; i <= row_var; ++i) {
        var_offsets[i] = LoadU16Le(row.data() + mask_pos - 4 - 2 * i);
      }
    } else {
      if (mask_pos < 1 + cc_size)
        return Bad("no room for var count", page, offset);
      row_var = row[mask_pos - 1];
      size_t num_jumps = (len - 1) / 256;
      // Position of var entry 0 (entries run downwards from there).
      size_t fixed_tail = 1 + num_jumps + 1;  // var count + jumps + entry 0
      if (fixed_tail + row_var + cc_size > mask_pos) {
        return Bad("variable offset table of " + std::to_string(row_var) +
                       " entries does not fit",
                   page, offset);
      }
      size_t col_ptr = mask_pos - 2 - num_jumps;
      // A last jump entry may be a dummy that is never reached.
      if (num_jumps > 0 && (col_ptr - row_var) / 256 < num_jumps) --num_jumps;
      var_offsets.resize(row_var + 1);
      size_t jumps_used = 0;
      for (uint32_t i = 0; i <= row_var; ++i) {
        while (jumps_used < num_jumps && i == row[mask_pos - 2 - jumps_used]) {
          ++jumps_used;
        }
        var_offsets[i] =
            row[col_ptr - i] + 256 * static_cast<uint32_t>(jumps_used);
      }
    }
  }

  std::vector<ColumnSlice> out(def.columns.size());
  for (size_t k = 0; k < def.columns.size(); ++k) {
    const ColumnDef& col = def.columns[k];
    ColumnSlice& s = out[k];
    s.column = &col;
    s.present = present_bit(col.number);
    if (col.type == ColumnType::kBool || !s.present) continue;
    if (col.is_fixed()) {
      size_t start = cc_size + col.fixed_offset;
      if (start + col.length > mask_pos) {
        return Bad("fixed column '" + col.name + "' at " +
                       std::to_string(start) + "+" +
                       std::to_string(col.length) + " overruns the row",
                   page, offset);
      }
      s.data = row.subspan(start, col.length);
    } else {
      if (col.var_index >= row_var) {
        s.present = false;  // added after this row was written
        continue;
      }
      uint32_t a = var_offsets[col.var_index];
      uint32_t b = var_offsets[col.var_index + 1];
      if (a > b || b > mask_pos || a < cc_size) {
        return Bad("variable column '" + col.name + "' has bad extent [" +
                       std::to_string(a) + ", " + std::to_string(b) + ")",
                   page, offset);
      }
      s.data = row.subspan(a, b - a);
    }
  }
  return out;
}

Result<Value> DecodeSlice(PageFile& file, const ColumnSlice& slice,
                          uint16_t code_page) {
  const ColumnDef& col = *slice.column;
  Value v;
  if (col.type == ColumnType::kBool) {
    v.kind = Value::Kind::kBool;
    v.b = slice.present;
    return v;
  }
  if (!slice.present) return Value::Null();
  const bool ucs2 = file.format().text_encoding == TextEncoding::kUcs2;
  switch (col.type) {
    case ColumnType::kText:
      v.kind = Value::Kind::kText;
      v.s = ucs2 ? DecodeJet4Text(slice.data)
                 : CodePageToUtf8(slice.data, code_page);
      return v;
    case ColumnType::kBinary:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      // 0x0D and 0x11 hold opaque bytes (0x11 in MSysAccessObjects).
      v.kind = Value::Kind::kBinary;
      v.s.assign(slice.data.begin(), slice.data.end());
      return v;
    case ColumnType::kMemo:
    case ColumnType::kOle: {
      HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> data,
                           ReadLongValue(file, slice.data));
      if (col.type == ColumnType::kMemo) {
        v.kind = Value::Kind::kText;
        v.s = ucs2 ? DecodeJet4Text(data) : CodePageToUtf8(data, code_page);
      } else {
        v.kind = Value::Kind::kBinary;
        v.s.assign(data.begin(), data.end());
      }
      return v;
    }
    case ColumnType::kByte:
    case ColumnType::kInt:
    case ColumnType::kLong:
    case ColumnType::kMoney:
    case ColumnType::kFloat:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kGuid:
    case ColumnType::kNumeric:
      return DecodeFixedValue(col.type, slice.data, col.scale);
    case ColumnType::kComplex:
      return Status::NotSupported("column '" + col.name +
                                  "' is a complex (attachment/multi-value) "
                                  "column");
    default:
      return Status::NotSupported("column '" + col.name +
                                  "' has unsupported type " +
                                  std::to_string(static_cast<int>(col.type)));
  }
}

}  // namespace hvq::jet
