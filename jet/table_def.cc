// Table definition reader. See table_def.h for the layout.
#include "jet/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "jet/byte_order.h"
#include "jet/page_file.h"
#include "jet/text.h"

namespace hvq::jet {
namespace {

// Limits beyond which a count is taken as damage rather than a table.
constexpr uint32_t kMaxColumnEntries = 4096;
constexpr uint32_t kMaxIndexEntries = 1024;

class Cursor {
 public:
  Cursor(Bytes bytes, uint32_t page) : bytes_(bytes), page_(page) {}

  Status Need(size_t n, const char* what) const {
    if (!Fits(bytes_, pos_, n)) {
      return Status::Corruption(
          std::string("table definition truncated in ") + what, page_,
          static_cast<uint32_t>(std::min<size_t>(pos_, 0xFFFFFFFF)));
    }
    return Status::Ok();
  }
  Bytes Take(size_t n) {
    Bytes b = bytes_.subspan(pos_, n);
    pos_ += n;
    return b;
  }
  size_t remaining() const { return bytes_.size() - pos_; }
  uint32_t position() const { return static_cast<uint32_t>(pos_); }
  void Skip(size_t n) { pos_ += n; }

 private:
  Bytes bytes_;
  size_t pos_ = 0;
  uint32_t page_;
};

Status ReadName(const Format& f, Cursor& c, uint16_t code_page,
                const char* what, std::string* out) {
  HVQ_RETURN_IF_ERROR(c.Need(f.name_length_size, what));
  Bytes lb = c.Take(f.name_length_size);
  size_t len = f.name_length_size == 1 ? lb[0] : LoadU16Le(lb.data());
  HVQ_RETURN_IF_ERROR(c.Need(len, what));
  Bytes nb = c.Take(len);
  *out = f.text_encoding == TextEncoding::kUcs2 ? DecodeJet4Text(nb)
                                                : CodePageToUtf8(nb, code_page);
  return Status::Ok();
}

}  // namespace

std::string_view ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBool:
      return "Boolean";
    case ColumnType::kByte:
      return "Byte";
    case ColumnType::kInt:
      return "Integer";
    case ColumnType::kLong:
      return "Long";
    case ColumnType::kMoney:
      return "Currency";
    case ColumnType::kFloat:
      return "Single";
    case ColumnType::kDouble:
      return "Double";
    case ColumnType::kDateTime:
      return "DateTime";
    case ColumnType::kBinary:
      return "Binary";
    case ColumnType::kText:
      return "Text";
    case ColumnType::kOle:
      return "OLE";
    case ColumnType::kMemo:
      return "Memo";
    case ColumnType::kGuid:
      return "GUID";
    case ColumnType::kNumeric:
      return "Numeric";
    case ColumnType::kComplex:
      return "Complex";
    case ColumnType::kBigInt:
      return "BigInt";
    default:
      return "Unknown";
  }
}

size_t FixedDataSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInt:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kFloat:
      return 4;
    case ColumnType::kMoney:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBigInt:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return 17;
    default:
      return 0;
  }
}

std::vector<const ColumnDef*> TableDef::ColumnsByNumber() const {
  std::vector<const ColumnDef*> out;
  out.reserve(columns.size());
  for (const auto& c : columns) out.push_back(&c);
  std::stable_sort(out.begin(), out.end(),
                   [](const ColumnDef* a, const ColumnDef* b) {
                     return a->number < b->number;
                   });
  return out;
}

const ColumnDef* TableDef::FindColumn(uint16_t number) const {
  for (const auto& c : columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

const ColumnDef* TableDef::FindColumn(std::string_view name) const {
  for (const auto& c : columns) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

Status ReadTableDefBytes(PageFile& file, uint32_t page,
                         std::vector<uint8_t>* bytes,
                         std::vector<uint32_t>* pages) {
  const Format& f = file.format();
  bytes->clear();
  pages->clear();
  std::unordered_set<uint32_t> seen;
  uint32_t current = page;
  while (true) {
    if (!seen.insert(current).second) {
      return Status::Corruption(
          "table definition page chain loops back to "
          "page " +
              std::to_string(current),
          pages->back(), f.tdef_next_page_offset);
    }
    if (current == 0) {
      return Status::Corruption("table definition chain points at page 0",
                                pages->empty() ? page : pages->back(),
                                f.tdef_next_page_offset);
    }
    HVQ_ASSIGN_OR_RETURN(PageRef p, file.GetPage(current));
    if ((*p)[0] != static_cast<uint8_t>(PageType::kTableDef)) {
      return Status::Corruption("page " + std::to_string(current) +
                                    " is not a table definition page (type " +
                                    std::to_string((*p)[0]) + ")",
                                current, 0);
    }
    pages->push_back(current);
    if (bytes->empty()) {
      bytes->assign(p->begin(), p->end());
    } else {
      bytes->insert(bytes->end(), p->begin() + f.tdef_continuation_header_size,
                    p->end());
    }
    uint32_t next = LoadU32Le(p->data() + f.tdef_next_page_offset);
    if (next == 0) break;
    current = next;
  }
  return Status::Ok();
}

Result<TableDef> ReadTableDef(PageFile& file, uint32_t page) {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> pages;
  HVQ_RETURN_IF_ERROR(ReadTableDefBytes(file, page, &bytes, &pages));
  HVQ_ASSIGN_OR_RETURN(TableDef def, ParseTableDef(file.format(), page, bytes,
                                                   file.header().code_page));
  def.pages = std::move(pages);
  return def;
}

Result<TableDef> ParseTableDef(const Format& f, uint32_t first_page,
                               std::span<const uint8_t> bytes,
                               uint16_t code_page) {
  if (bytes.size() < f.tdef_header_size) {
    return Status::Corruption("table definition shorter than its header",
                              first_page, 0);
  }
  if (bytes[0] != static_cast<uint8_t>(PageType::kTableDef)) {
    return Status::Corruption("not a table definition page", first_page, 0);
  }
  const uint8_t* b = bytes.data();
  TableDef def;
  def.version = f.version;
  def.first_page = first_page;
  def.pages = {first_page};
  def.row_count = LoadU32Le(b + f.tdef_row_count_offset);
  def.next_autonumber = LoadU32Le(b + f.tdef_autonumber_offset);
  if (f.tdef_autonumber_flag_offset != 0) {
    def.autonumber_flag = b[f.tdef_autonumber_flag_offset];
  }
  if (f.tdef_complex_autonumber_offset != 0) {
    def.next_complex_autonumber =
        LoadU32Le(b + f.tdef_complex_autonumber_offset);
  }
  def.table_type = b[f.tdef_table_type_offset];
  def.max_columns = LoadU16Le(b + f.tdef_max_columns_offset);
  def.var_column_count = LoadU16Le(b + f.tdef_var_columns_offset);
  uint32_t num_cols = LoadU16Le(b + f.tdef_column_count_offset);
  uint32_t num_idx = LoadU32Le(b + f.tdef_logical_index_count_offset);
  uint32_t num_real = LoadU32Le(b + f.tdef_real_index_count_offset);
  def.owned_pages =
      RowPointer::FromU32(LoadU32Le(b + f.tdef_owned_pages_offset));
  def.free_pages = RowPointer::FromU32(LoadU32Le(b + f.tdef_free_pages_offset));
  def.header_raw.assign(b, b + f.tdef_header_size);

  if (num_cols > kMaxColumnEntries) {
    return Status::Corruption(
        "implausible column count " + std::to_string(num_cols), first_page,
        f.tdef_column_count_offset);
  }
  if (num_idx > kMaxIndexEntries) {
    return Status::Corruption(
        "implausible index count " + std::to_string(num_idx), first_page,
        f.tdef_logical_index_count_offset);
  }
  if (num_real > kMaxIndexEntries || num_real > num_idx + kMaxIndexEntries) {
    return Status::Corruption(
        "implausible real index count " + std::to_string(num_real), first_page,
        f.tdef_real_index_count_offset);
  }

  Cursor c(bytes, first_page);
  c.Skip(f.tdef_header_size);

  // Real-index slots.
  def.layout.real_index_slots = c.position();
  std::vector<std::vector<uint8_t>> slots;
  HVQ_RETURN_IF_ERROR(
      c.Need(size_t{num_real} * f.real_index_slot_size, "real index slots"));
  for (uint32_t i = 0; i < num_real; ++i) {
    Bytes s = c.Take(f.real_index_slot_size);
    slots.emplace_back(s.begin(), s.end());
  }

  // Column entries.
  HVQ_RETURN_IF_ERROR(
      c.Need(size_t{num_cols} * f.column_entry_size, "column entries"));
  def.columns.resize(num_cols);
  for (uint32_t i = 0; i < num_cols; ++i) {
    Bytes e = c.Take(f.column_entry_size);
    const uint8_t* p = e.data();
    ColumnDef& col = def.columns[i];
    col.raw.assign(e.begin(), e.end());
    col.type = static_cast<ColumnType>(p[f.column_type_offset]);
    col.number = LoadU16Le(p + f.column_number_offset);
    col.var_index = LoadU16Le(p + f.column_var_index_offset);
    col.fixed_offset = LoadU16Le(p + f.column_fixed_offset_offset);
    col.length = LoadU16Le(p + f.column_length_offset);
    col.flags = p[f.column_flags_offset];
    if (f.column_ext_flags_offset != 0) {
      col.ext_flags = p[f.column_ext_flags_offset];
    }
    if (col.type == ColumnType::kNumeric) {
      col.precision = p[f.column_precision_offset];
      col.scale = p[f.column_scale_offset];
    }
    if (col.is_text()) {
      col.sort_order = LoadU16Le(p + f.column_sort_order_offset);
      if (f.column_code_page_offset != 0) {
        col.code_page = LoadU16Le(p + f.column_code_page_offset);
      }
      if (f.column_sort_version_offset != 0) {
        col.sort_version = p[f.column_sort_version_offset];
      }
    }
  }

  // Column names.
  for (uint32_t i = 0; i < num_cols; ++i) {
    HVQ_RETURN_IF_ERROR(
        ReadName(f, c, code_page, "column names", &def.columns[i].name));
  }

  // Real index definitions.
  def.layout.real_indexes = c.position();
  HVQ_RETURN_IF_ERROR(
      c.Need(size_t{num_real} * f.real_index_entry_size, "real indexes"));
  for (uint32_t i = 0; i < num_real; ++i) {
    Bytes e = c.Take(f.real_index_entry_size);
    const uint8_t* p = e.data();
    RealIndexDef ri;
    ri.raw.assign(e.begin(), e.end());
    ri.slot_raw = slots[i];
    ri.slot_row_count =
        LoadU32Le(slots[i].data() + f.real_index_slot_row_count_offset);
    for (uint32_t k = 0; k < kIndexColumnSlots; ++k) {
      const uint8_t* s = p + f.real_index_skip_before + 3 * k;
      uint16_t num = LoadU16Le(s);
      if (num == kIndexNoColumn) continue;
      // Order byte: bit 0x01 set = ascending, 0x00 = descending (checked
      // against the key flags of every corpus index).
      ri.columns.push_back(IndexColumn{num, (s[2] & 0x01) != 0});
    }
    ri.usage_map =
        RowPointer::FromU32(LoadU32Le(p + f.real_index_usage_map_offset));
    ri.first_page = LoadU32Le(p + f.real_index_first_page_offset);
    ri.flags = p[f.real_index_flags_offset];
    def.real_indexes.push_back(std::move(ri));
  }

  // Logical index definitions.
  def.layout.logical_indexes = c.position();
  HVQ_RETURN_IF_ERROR(
      c.Need(size_t{num_idx} * f.logical_index_entry_size, "logical indexes"));
  for (uint32_t i = 0; i < num_idx; ++i) {
    Bytes e = c.Take(f.logical_index_entry_size);
    const uint8_t* p = e.data();
    LogicalIndexDef li;
    li.raw.assign(e.begin(), e.end());
    li.index_number = LoadU32Le(p + f.logical_index_number_offset);
    li.real_index = LoadU32Le(p + f.logical_index_real_offset);
    li.related_table_type = p[f.logical_index_rel_table_type_offset];
    uint32_t rel = LoadU32Le(p + f.logical_index_rel_index_offset);
    if (rel != 0xFFFFFFFFu) li.related_index = rel;
    li.related_table_page =
        LoadU32Le(p + f.logical_index_rel_table_page_offset);
    li.cascade_updates = p[f.logical_index_cascade_updates_offset] != 0;
    li.cascade_deletes = p[f.logical_index_cascade_deletes_offset] != 0;
    li.type = p[f.logical_index_type_offset];
    if (li.real_index >= num_real) {
      return Status::Corruption(
          "logical index " + std::to_string(i) + " refers to real index " +
              std::to_string(li.real_index) + " of " + std::to_string(num_real),
          first_page, 0);
    }
    def.logical_indexes.push_back(std::move(li));
  }
  for (uint32_t i = 0; i < num_idx; ++i) {
    HVQ_RETURN_IF_ERROR(
        ReadName(f, c, code_page, "index names", &def.logical_indexes[i].name));
  }

  // Variable-column usage trailer: ends at column number 0xFFFF.
  def.layout.var_column_usage = c.position();
  while (c.remaining() >= 2) {
    Bytes nb = c.Take(2);
    uint16_t num = LoadU16Le(nb.data());
    if (num == kIndexNoColumn) break;
    if (c.remaining() < f.var_column_usage_entry_size - 2) break;
    Bytes e = c.Take(f.var_column_usage_entry_size - 2);
    def.var_column_usage.push_back(
        VarColumnUsage{num, RowPointer::FromU32(LoadU32Le(e.data())),
                       RowPointer::FromU32(LoadU32Le(e.data() + 4))});
  }
  def.layout.end = c.position();
  return def;
}

}  // namespace hvq::jet
