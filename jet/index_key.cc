// Index key encoding per column type; layout in index_key.h.
#include "jet/index_key.h"

#include <bit>
#include <cstring>
#include <string>

#include "jet/byte_order.h"

namespace hvq::jet {
namespace {

void Invert(std::vector<uint8_t>* out, size_t from) {
  for (size_t i = from; i < out->size(); ++i) (*out)[i] = ~(*out)[i];
}

// Two's complement big-endian of `bytes` width, sign bit flipped.
void AppendSignedInt(int64_t v, int bytes, std::vector<uint8_t>* out) {
  const uint64_t u = static_cast<uint64_t>(v);
  const size_t at = out->size();
  for (int i = bytes - 1; i >= 0; --i) {
    out->push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  (*out)[at] ^= 0x80;
}

void AppendFloatBits(uint64_t bits, int bytes, std::vector<uint8_t>* out) {
  const size_t at = out->size();
  for (int i = bytes - 1; i >= 0; --i) {
    out->push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  if ((*out)[at] & 0x80) {
    Invert(out, at);
  } else {
    (*out)[at] ^= 0x80;
  }
}

// 8-byte groups, each followed by 0x09 (more follows) or the count of
// bytes used in the final zero-padded group.
void AppendGroupedBinary(std::string_view data, bool ascending,
                         std::vector<uint8_t>* out) {
  size_t pos = 0;
  while (data.size() - pos > 8) {
    const size_t at = out->size();
    out->insert(out->end(), data.begin() + pos, data.begin() + pos + 8);
    if (!ascending) Invert(out, at);
    out->push_back(0x09);
    pos += 8;
  }
  const size_t rest = data.size() - pos;
  if (rest == 0) return;
  const size_t at = out->size();
  out->insert(out->end(), data.begin() + pos, data.end());
  out->insert(out->end(), 8 - rest, 0);
  out->push_back(static_cast<uint8_t>(rest));
  if (!ascending) Invert(out, at);
}

bool ValueIsFor(const Value& v, Value::Kind kind) { return v.kind == kind; }

Status WrongKind(const KeyColumnSpec& spec) {
  return Status::InvalidArgument(
      std::string("value does not match column type ") +
      std::string(ColumnTypeName(spec.type)));
}

}  // namespace

TextCollation CollationFor(const KeyColumnSpec& spec) {
  constexpr uint16_t kGeneral = 0x409;
  if (spec.sort_order != kGeneral) return TextCollation::kUnsupported;
  if (spec.version == JetVersion::kJet3) return TextCollation::kGeneral97;
  if (spec.sort_version == 0) return TextCollation::kGeneralLegacy;
  return TextCollation::kUnsupported;
}

Status AppendColumnKey(const KeyColumnSpec& spec, const Value& value,
                       std::vector<uint8_t>* out) {
  const bool asc = spec.ascending;
  if (spec.type == ColumnType::kBool) {
    // Booleans have no null: a missing value is false.
    const bool b = value.kind == Value::Kind::kBool && value.b;
    out->push_back(asc ? kKeyStartAscending : kKeyStartDescending);
    out->push_back((b == asc) ? 0x00 : 0xFF);
    return Status::Ok();
  }
  if (value.is_null()) {
    out->push_back(asc ? kKeyNullAscending : kKeyNullDescending);
    return Status::Ok();
  }
  const size_t flag_at = out->size();
  out->push_back(kKeyStartAscending);
  const size_t data_at = out->size();
  bool invert = !asc;
  switch (spec.type) {
    case ColumnType::kByte:
      if (!ValueIsFor(value, Value::Kind::kInt)) return WrongKind(spec);
      out->push_back(static_cast<uint8_t>(value.i));
      break;
    case ColumnType::kInt:
      if (!ValueIsFor(value, Value::Kind::kInt)) return WrongKind(spec);
      AppendSignedInt(value.i, 2, out);
      break;
    case ColumnType::kLong:
      if (!ValueIsFor(value, Value::Kind::kInt)) return WrongKind(spec);
      AppendSignedInt(value.i, 4, out);
      break;
    case ColumnType::kMoney:
      if (!ValueIsFor(value, Value::Kind::kMoney)) return WrongKind(spec);
      AppendSignedInt(value.i, 8, out);
      break;
    case ColumnType::kFloat: {
      if (!ValueIsFor(value, Value::Kind::kFloat)) return WrongKind(spec);
      const float f = static_cast<float>(value.d);
      AppendFloatBits(std::bit_cast<uint32_t>(f), 4, out);
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      if (!ValueIsFor(value, Value::Kind::kDouble) &&
          !ValueIsFor(value, Value::Kind::kDateTime)) {
        return WrongKind(spec);
      }
      AppendFloatBits(std::bit_cast<uint64_t>(value.d), 8, out);
      break;
    case ColumnType::kGuid: {
      if (!ValueIsFor(value, Value::Kind::kGuid) || value.s.size() != 16) {
        return WrongKind(spec);
      }
      // Stored as u32, u16, u16 little-endian then 8 bytes: put the first
      // three groups in textual (big-endian) order.
      std::string text_order = value.s;
      const uint8_t* s = reinterpret_cast<const uint8_t*>(value.s.data());
      const uint32_t d1 = LoadU32Le(s);
      const uint16_t d2 = LoadU16Le(s + 4), d3 = LoadU16Le(s + 6);
      uint8_t be[8];
      StoreU32Be(be, d1);
      StoreU16Be(be + 4, d2);
      StoreU16Be(be + 6, d3);
      text_order.replace(0, 8, reinterpret_cast<const char*>(be), 8);
      AppendGroupedBinary(text_order, asc, out);
      invert = false;
      break;
    }
    case ColumnType::kNumeric: {
      if (!ValueIsFor(value, Value::Kind::kNumeric) || value.s.size() != 17) {
        return WrongKind(spec);
      }
      // Stored: sign byte, then four u32 little-endian words, most
      // significant first. Key: 0xFF (non-negative) or 0x00 (negative),
      // then the 128-bit magnitude big-endian, inverted when the sign
      // matches the direction (negative ascending, positive descending).
      const uint8_t* s = reinterpret_cast<const uint8_t*>(value.s.data());
      const bool negative = (s[0] & 0x80) != 0;
      out->push_back(negative ? 0x00 : 0xFF);
      const size_t mag_at = out->size();
      for (int w = 0; w < 4; ++w) {
        uint8_t be[4];
        StoreU32Be(be, LoadU32Le(s + 1 + 4 * w));
        out->insert(out->end(), be, be + 4);
      }
      if (negative == asc) Invert(out, mag_at);
      invert = false;
      break;
    }
    case ColumnType::kBinary:
      if (!ValueIsFor(value, Value::Kind::kBinary)) return WrongKind(spec);
      AppendGroupedBinary(value.s, asc, out);
      invert = false;
      break;
    case ColumnType::kText:
    case ColumnType::kMemo: {
      if (!ValueIsFor(value, Value::Kind::kText)) return WrongKind(spec);
      const TextCollation c = CollationFor(spec);
      if (c == TextCollation::kUnsupported) {
        return Status::NotSupported(
            "text key in collation " + std::to_string(spec.sort_order) +
            " version " + std::to_string(spec.sort_version));
      }
      HVQ_RETURN_IF_ERROR(AppendTextKey(c, value.s, asc, out));
      invert = false;
      break;
    }
    default:
      return Status::NotSupported(std::string("index key for column type ") +
                                  std::string(ColumnTypeName(spec.type)));
  }
  if (invert) Invert(out, data_at);
  if (!asc) (*out)[flag_at] = kKeyStartDescending;
  return Status::Ok();
}

Result<std::vector<KeyColumnSpec>> KeySpecsFor(const Format& format,
                                               const TableDef& def,
                                               const RealIndexDef& index) {
  std::vector<KeyColumnSpec> specs;
  for (const IndexColumn& ic : index.columns) {
    const ColumnDef* col = def.FindColumn(ic.column_number);
    if (col == nullptr) {
      return Status::NotFound("index names column " +
                              std::to_string(ic.column_number) +
                              " which the table lacks");
    }
    KeyColumnSpec s;
    s.type = col->type;
    s.ascending = ic.ascending;
    s.version = format.version;
    s.sort_order = col->sort_order;
    s.sort_version = col->sort_version;
    specs.push_back(s);
  }
  return specs;
}

bool IndexCoversRow(const TableDef& def, const RealIndexDef& index,
                    const std::vector<Value>& row) {
  if (!index.ignore_nulls()) return true;
  for (const IndexColumn& ic : index.columns) {
    for (size_t i = 0; i < def.columns.size() && i < row.size(); ++i) {
      if (def.columns[i].number != ic.column_number) continue;
      if (def.columns[i].type == ColumnType::kBool || !row[i].is_null()) {
        return true;
      }
    }
  }
  return false;
}

Result<std::vector<uint8_t>> EncodeIndexKey(const Format& format,
                                            const TableDef& def,
                                            const RealIndexDef& index,
                                            const std::vector<Value>& row) {
  if (row.size() != def.columns.size()) {
    return Status::InvalidArgument(
        "row has " + std::to_string(row.size()) + " values, table has " +
        std::to_string(def.columns.size()) + " columns");
  }
  std::vector<uint8_t> key;
  for (const IndexColumn& ic : index.columns) {
    size_t pos = def.columns.size();
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == ic.column_number) pos = i;
    }
    if (pos == def.columns.size()) {
      return Status::NotFound("index names column " +
                              std::to_string(ic.column_number) +
                              " which the table lacks");
    }
    const ColumnDef& col = def.columns[pos];
    KeyColumnSpec s;
    s.type = col.type;
    s.ascending = ic.ascending;
    s.version = format.version;
    s.sort_order = col.sort_order;
    s.sort_version = col.sort_version;
    HVQ_RETURN_IF_ERROR(AppendColumnKey(s, row[pos], &key));
  }
  return key;
}

}  // namespace hvq::jet
