// Row encoder. See row_writer.h for the layout.
#include "jet/row_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "jet/byte_order.h"
#include "jet/text.h"

namespace hvq::jet {
namespace {

Status KindMismatch(const ColumnDef& column, const Value& value) {
  return Status::InvalidArgument("column '" + column.name + "' (" +
                                 std::string(ColumnTypeName(column.type)) +
                                 ") cannot store a value of kind " +
                                 std::to_string(static_cast<int>(value.kind)));
}

Status CheckRange(const ColumnDef& column, int64_t v, int64_t lo, int64_t hi) {
  if (v < lo || v > hi) {
    return Status::InvalidArgument("value " + std::to_string(v) +
                                   " out of range for column '" + column.name +
                                   "'");
  }
  return Status::Ok();
}

// UCS-2 code units of UTF-8 text.
std::vector<uint16_t> Utf16Units(std::string_view utf8) {
  std::vector<uint8_t> b = Utf8ToUcs2(utf8);
  std::vector<uint16_t> u(b.size() / 2);
  for (size_t i = 0; i < u.size(); ++i) u[i] = LoadU16Le(&b[2 * i]);
  return u;
}

}  // namespace

std::vector<uint8_t> EncodeTextBytes(const Format& format,
                                     std::string_view utf8, bool compress,
                                     uint16_t code_page) {
  if (format.text_encoding == TextEncoding::kCodePage) {
    return Utf8ToCodePage(utf8, code_page);
  }
  if (compress && !utf8.empty()) {
    std::vector<uint16_t> units = Utf16Units(utf8);
    bool ok = std::all_of(units.begin(), units.end(),
                          [](uint16_t u) { return u >= 1 && u <= 0xFF; });
    if (ok) {
      std::vector<uint8_t> out = {0xFF, 0xFE};
      for (uint16_t u : units) out.push_back(static_cast<uint8_t>(u));
      return out;
    }
  }
  return Utf8ToUcs2(utf8);
}

uint32_t FixedAreaSize(const TableDef& def) {
  uint32_t end = 0;
  for (const ColumnDef& c : def.columns) {
    if (!c.is_fixed() || c.type == ColumnType::kBool) continue;
    end = std::max<uint32_t>(end, uint32_t{c.fixed_offset} + c.length);
  }
  return end;
}

Result<RowField> EncodeFieldValue(const Format& format, const ColumnDef& column,
                                  const Value& value, const TextOptions& text) {
  RowField f;
  if (value.is_null()) return f;
  f.present = true;
  auto put_int = [&](int64_t v, int width) {
    f.data.resize(width);
    for (int i = 0; i < width; ++i) {
      f.data[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
    }
  };
  using K = Value::Kind;
  switch (column.type) {
    case ColumnType::kBool:
      if (value.kind == K::kBool) {
        f.bool_value = value.b;
      } else if (value.kind == K::kInt) {
        f.bool_value = value.i != 0;
      } else {
        return KindMismatch(column, value);
      }
      return f;
    case ColumnType::kByte:
      if (value.kind != K::kInt) return KindMismatch(column, value);
      HVQ_RETURN_IF_ERROR(CheckRange(column, value.i, 0, 255));
      put_int(value.i, 1);
      return f;
    case ColumnType::kInt:
      if (value.kind != K::kInt) return KindMismatch(column, value);
      HVQ_RETURN_IF_ERROR(CheckRange(column, value.i, -32768, 32767));
      put_int(value.i, 2);
      return f;
    case ColumnType::kLong:
      if (value.kind != K::kInt) return KindMismatch(column, value);
      HVQ_RETURN_IF_ERROR(CheckRange(column, value.i,
                                     std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
      put_int(value.i, 4);
      return f;
    case ColumnType::kMoney:
      if (value.kind != K::kMoney && value.kind != K::kInt) {
        return KindMismatch(column, value);
      }
      put_int(value.i, 8);
      return f;
    case ColumnType::kFloat: {
      if (value.kind != K::kFloat && value.kind != K::kDouble) {
        return KindMismatch(column, value);
      }
      float v = static_cast<float>(value.d);
      uint32_t bits;
      std::memcpy(&bits, &v, 4);
      put_int(bits, 4);
      return f;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      if (value.kind != K::kDouble && value.kind != K::kDateTime &&
          value.kind != K::kFloat) {
        return KindMismatch(column, value);
      }
      uint64_t bits;
      std::memcpy(&bits, &value.d, 8);
      f.data.resize(8);
      StoreU64Le(f.data.data(), bits);
      return f;
    }
    case ColumnType::kGuid:
      if (value.kind != K::kGuid || value.s.size() != 16) {
        return Status::InvalidArgument("column '" + column.name +
                                       "' needs a 16-byte GUID value");
      }
      f.data.assign(value.s.begin(), value.s.end());
      return f;
    case ColumnType::kNumeric:
      if (value.kind != K::kNumeric || value.s.size() != 17) {
        return Status::InvalidArgument("column '" + column.name +
                                       "' needs a 17-byte numeric value");
      }
      f.data.assign(value.s.begin(), value.s.end());
      return f;
    case ColumnType::kBinary:
      if (value.kind != K::kBinary) return KindMismatch(column, value);
      if (value.s.size() > column.length) {
        return Status::InvalidArgument(
            "binary value of " + std::to_string(value.s.size()) +
            " bytes exceeds column '" + column.name + "'");
      }
      f.data.assign(value.s.begin(), value.s.end());
      return f;
    case ColumnType::kText: {
      if (value.kind != K::kText) return KindMismatch(column, value);
      bool compress = text.compress && column.compressed_unicode();
      f.data = EncodeTextBytes(format, value.s, compress, text.code_page);
      size_t plain = format.text_encoding == TextEncoding::kUcs2
                         ? Utf16Units(value.s).size() * 2
                         : f.data.size();
      if (plain > column.length) {
        return Status::InvalidArgument("text of " + std::to_string(plain) +
                                       " bytes exceeds column '" + column.name +
                                       "'");
      }
      return f;
    }
    default:
      return Status::InvalidArgument("column '" + column.name + "' of type " +
                                     std::string(ColumnTypeName(column.type)) +
                                     " is not encoded by EncodeFieldValue");
  }
}

Result<std::vector<uint8_t>> EncodeRow(const Format& format,
                                       const TableDef& def,
                                       std::span<const RowField> fields) {
  if (fields.size() != def.columns.size()) {
    return Status::InvalidArgument(
        "row has " + std::to_string(fields.size()) + " fields, table has " +
        std::to_string(def.columns.size()) + " columns");
  }
  const bool jet3 = format.row_var_offset_size == 1;
  const uint32_t cc = format.row_column_count_size;
  uint32_t num_cols = def.max_columns;
  for (const ColumnDef& c : def.columns) {
    num_cols = std::max<uint32_t>(num_cols, uint32_t{c.number} + 1);
  }
  const uint32_t mask_size = (num_cols + 7) / 8;
  const uint32_t fixed_size = FixedAreaSize(def);
  uint32_t var_count = def.var_column_count;
  for (const ColumnDef& c : def.columns) {
    if (!c.is_fixed()) {
      var_count = std::max<uint32_t>(var_count, uint32_t{c.var_index} + 1);
    }
  }

  std::vector<uint8_t> row(cc + fixed_size, 0);
  if (cc == 1) {
    row[0] = static_cast<uint8_t>(num_cols);
  } else {
    StoreU16Le(row.data(), static_cast<uint16_t>(num_cols));
  }
  std::vector<uint8_t> mask(mask_size, 0);
  std::vector<const RowField*> var_fields(var_count, nullptr);
  for (size_t i = 0; i < fields.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const RowField& f = fields[i];
    bool bit = f.present;
    if (c.type == ColumnType::kBool) {
      bit = f.present && f.bool_value;
    } else if (c.is_fixed()) {
      if (f.present) {
        if (f.data.size() != c.length) {
          return Status::InvalidArgument("fixed column '" + c.name +
                                         "' needs " + std::to_string(c.length) +
                                         " bytes, got " +
                                         std::to_string(f.data.size()));
        }
        std::copy(f.data.begin(), f.data.end(),
                  row.begin() + cc + c.fixed_offset);
      }
    } else {
      var_fields[c.var_index] = &f;
    }
    if (bit) mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
  }

  if (var_count > 0) {
    // Offsets of var slots 0..n-1 and eod (slot n), from the row start.
    std::vector<uint32_t> offsets(var_count + 1);
    for (uint32_t v = 0; v < var_count; ++v) {
      offsets[v] = static_cast<uint32_t>(row.size());
      const RowField* f = var_fields[v];
      if (f != nullptr && f->present) {
        row.insert(row.end(), f->data.begin(), f->data.end());
      }
    }
    offsets[var_count] = static_cast<uint32_t>(row.size());
    const uint32_t data_len = static_cast<uint32_t>(row.size());
    if (!jet3) {
      for (uint32_t v = var_count + 1; v-- > 0;) {
        uint8_t b[2];
        StoreU16Le(b, static_cast<uint16_t>(offsets[v]));
        row.insert(row.end(), b, b + 2);
      }
      uint8_t b[2];
      StoreU16Le(b, static_cast<uint16_t>(var_count));
      row.insert(row.end(), b, b + 2);
    } else {
      if (var_count > 255) {
        return Status::InvalidArgument("too many variable columns for Jet 3");
      }
      // Jump entries depend on the final length, which depends on them.
      uint32_t jumps = 0;
      while (true) {
        uint32_t len = data_len + (var_count + 1) + jumps + 1 + mask_size;
        uint32_t want = (len - 1) / 256;
        if (want <= jumps) break;
        jumps = want;
      }
      for (uint32_t v = var_count + 1; v-- > 0;) {
        row.push_back(static_cast<uint8_t>(offsets[v] & 0xFF));
      }
      std::vector<uint8_t> table(jumps, 0xFF);
      for (uint32_t k = 0; k < jumps; ++k) {
        for (uint32_t v = 0; v <= var_count; ++v) {
          if (offsets[v] >= (k + 1) * 256) {
            table[k] = static_cast<uint8_t>(v);
            break;
          }
        }
      }
      for (uint32_t k = jumps; k-- > 0;) row.push_back(table[k]);
      row.push_back(static_cast<uint8_t>(var_count));
    }
  }
  row.insert(row.end(), mask.begin(), mask.end());
  if (row.size() > format.max_row_size) {
    return Status::InvalidArgument("row of " + std::to_string(row.size()) +
                                   " bytes exceeds the maximum of " +
                                   std::to_string(format.max_row_size));
  }
  return row;
}

}  // namespace hvq::jet
