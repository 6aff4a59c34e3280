// Table definition writer. See table_def_writer.h.
#include "jet/table_def_writer.h"

#include <algorithm>
#include <string>

#include "jet/byte_order.h"
#include "jet/text.h"

namespace hvq::jet {
namespace {

Status AppendName(const Format& f, const std::string& name, uint16_t code_page,
                  std::vector<uint8_t>* out) {
  std::vector<uint8_t> enc = f.text_encoding == TextEncoding::kUcs2
                                 ? Utf8ToUcs2(name)
                                 : Utf8ToCodePage(name, code_page);
  const size_t max_bytes = f.name_length_size == 1 ? 0xFF : 0xFFFF;
  if (enc.empty() || enc.size() > max_bytes) {
    return Status::InvalidArgument("bad name length for '" + name + "'");
  }
  if (f.name_length_size == 1) {
    out->push_back(static_cast<uint8_t>(enc.size()));
  } else {
    uint8_t b[2];
    StoreU16Le(b, static_cast<uint16_t>(enc.size()));
    out->insert(out->end(), b, b + 2);
  }
  out->insert(out->end(), enc.begin(), enc.end());
  return Status::Ok();
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  StoreU32Le(&v[at], x);
}
void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  StoreU16Le(&v[at], x);
}

}  // namespace

Result<std::vector<uint8_t>> EncodeTableDefBytes(const Format& f,
                                                 const TableDef& def,
                                                 uint16_t code_page) {
  if (def.columns.empty() || def.columns.size() > f.max_columns) {
    return Status::InvalidArgument("a table needs 1.." +
                                   std::to_string(f.max_columns) + " columns");
  }
  if (def.real_indexes.size() > f.max_indexes ||
      def.logical_indexes.size() > f.max_indexes) {
    return Status::InvalidArgument("too many indexes");
  }
  const uint32_t num_real = static_cast<uint32_t>(def.real_indexes.size());
  std::vector<uint8_t> b(f.tdef_header_size, 0);
  b[0] = static_cast<uint8_t>(PageType::kTableDef);
  b[1] = 0x01;
  if (f.tdef_free_space_offset == 0) {
    std::copy(kTdefJet3Tag.begin(), kTdefJet3Tag.end(), b.begin() + 2);
  }
  if (f.tdef_magic_offset != 0) Put32(b, f.tdef_magic_offset, kTdefMagic);
  Put32(b, f.tdef_row_count_offset, def.row_count);
  Put32(b, f.tdef_autonumber_offset, def.next_autonumber);
  if (f.tdef_autonumber_flag_offset != 0) {
    b[f.tdef_autonumber_flag_offset] = def.autonumber_flag;
  }
  if (f.tdef_complex_autonumber_offset != 0) {
    Put32(b, f.tdef_complex_autonumber_offset, def.next_complex_autonumber);
  }
  b[f.tdef_table_type_offset] = def.table_type;
  uint16_t max_cols = def.max_columns;
  uint16_t var_cols = 0;
  for (const ColumnDef& c : def.columns) {
    max_cols =
        std::max<uint16_t>(max_cols, static_cast<uint16_t>(c.number + 1));
    if (!c.is_fixed()) ++var_cols;
  }
  Put16(b, f.tdef_max_columns_offset, max_cols);
  Put16(b, f.tdef_var_columns_offset, var_cols);
  Put16(b, f.tdef_column_count_offset,
        static_cast<uint16_t>(def.columns.size()));
  Put32(b, f.tdef_logical_index_count_offset,
        static_cast<uint32_t>(def.logical_indexes.size()));
  Put32(b, f.tdef_real_index_count_offset, num_real);
  Put32(b, f.tdef_owned_pages_offset, def.owned_pages.ToU32());
  Put32(b, f.tdef_free_pages_offset, def.free_pages.ToU32());

  for (const RealIndexDef& r : def.real_indexes) {
    size_t at = b.size();
    b.resize(at + f.real_index_slot_size, 0);
    Put32(b, at + f.real_index_slot_row_count_offset, r.slot_row_count);
  }

  for (const ColumnDef& c : def.columns) {
    size_t at = b.size();
    b.resize(at + f.column_entry_size, 0);
    b[at + f.column_type_offset] = static_cast<uint8_t>(c.type);
    if (f.column_magic_offset != 0) {
      Put32(b, at + f.column_magic_offset, kTdefMagic);
    }
    Put16(b, at + f.column_number_offset, c.number);
    Put16(b, at + f.column_var_index_offset, c.var_index);
    Put16(b, at + f.column_number2_offset, c.number);
    if (c.type == ColumnType::kNumeric) {
      b[at + f.column_precision_offset] = c.precision;
      b[at + f.column_scale_offset] = c.scale;
    } else {
      Put16(b, at + f.column_sort_order_offset, c.sort_order);
      if (f.column_code_page_offset != 0) {
        Put16(b, at + f.column_code_page_offset, c.code_page);
      }
      if (f.column_sort_version_offset != 0) {
        b[at + f.column_sort_version_offset] = c.sort_version;
      }
    }
    b[at + f.column_flags_offset] = c.flags;
    if (f.column_ext_flags_offset != 0) {
      b[at + f.column_ext_flags_offset] = c.ext_flags;
    }
    Put16(b, at + f.column_fixed_offset_offset, c.fixed_offset);
    Put16(b, at + f.column_length_offset, c.length);
  }
  for (const ColumnDef& c : def.columns) {
    HVQ_RETURN_IF_ERROR(AppendName(f, c.name, code_page, &b));
  }

  for (const RealIndexDef& r : def.real_indexes) {
    if (r.columns.empty() || r.columns.size() > kIndexColumnSlots) {
      return Status::InvalidArgument("an index needs 1..10 columns");
    }
    size_t at = b.size();
    b.resize(at + f.real_index_entry_size, 0);
    if (f.real_index_skip_before >= 4) Put32(b, at, kRealIndexMagic);
    size_t slot = at + f.real_index_skip_before;
    for (uint32_t i = 0; i < kIndexColumnSlots; ++i, slot += 3) {
      if (i < r.columns.size()) {
        if (def.FindColumn(r.columns[i].column_number) == nullptr) {
          return Status::InvalidArgument("index names a missing column");
        }
        Put16(b, slot, r.columns[i].column_number);
        b[slot + 2] = r.columns[i].ascending ? 0x01 : 0x02;
      } else {
        Put16(b, slot, kIndexNoColumn);
      }
    }
    Put32(b, at + f.real_index_usage_map_offset, r.usage_map.ToU32());
    Put32(b, at + f.real_index_first_page_offset, r.first_page);
    b[at + f.real_index_flags_offset] = r.flags;
  }

  for (const LogicalIndexDef& l : def.logical_indexes) {
    if (l.real_index >= num_real) {
      return Status::InvalidArgument("logical index '" + l.name +
                                     "' names a missing real index");
    }
    size_t at = b.size();
    b.resize(at + f.logical_index_entry_size, 0);
    if (f.logical_index_skip_before >= 4) Put32(b, at, kTdefMagic);
    Put32(b, at + f.logical_index_number_offset, l.index_number);
    Put32(b, at + f.logical_index_real_offset, l.real_index);
    b[at + f.logical_index_rel_table_type_offset] = l.related_table_type;
    Put32(b, at + f.logical_index_rel_index_offset,
          l.related_index.value_or(0xFFFFFFFFu));
    Put32(b, at + f.logical_index_rel_table_page_offset, l.related_table_page);
    b[at + f.logical_index_cascade_updates_offset] = l.cascade_updates;
    b[at + f.logical_index_cascade_deletes_offset] = l.cascade_deletes;
    b[at + f.logical_index_type_offset] = l.type;
  }
  for (const LogicalIndexDef& l : def.logical_indexes) {
    HVQ_RETURN_IF_ERROR(AppendName(f, l.name, code_page, &b));
  }

  for (const VarColumnUsage& u : def.var_column_usage) {
    size_t at = b.size();
    b.resize(at + f.var_column_usage_entry_size, 0);
    Put16(b, at, u.column_number);
    Put32(b, at + 2, u.used_pages.ToU32());
    Put32(b, at + 6, u.free_pages.ToU32());
  }
  size_t at = b.size();
  b.resize(at + f.var_column_usage_entry_size, 0);
  Put16(b, at, 0xFFFF);
  return b;
}

Result<std::vector<TableDefPage>> BuildTableDefPages(
    const Format& f, std::vector<uint8_t> definition, uint32_t first_page,
    const std::function<Result<uint32_t>()>& allocate) {
  const uint32_t ps = f.page_size;
  const uint32_t hdr = f.tdef_continuation_header_size;
  if (definition.size() < f.tdef_header_size) {
    return Status::InvalidArgument("definition shorter than its header");
  }
  StoreU32Le(&definition[f.tdef_length_offset],
             static_cast<uint32_t>(definition.size() - hdr));
  std::vector<TableDefPage> pages;
  size_t pos = 0;
  uint32_t number = first_page;
  while (pos < definition.size()) {
    TableDefPage p;
    p.page_number = number;
    p.bytes.assign(ps, 0);
    size_t take;
    if (pos == 0) {
      take = std::min<size_t>(ps, definition.size());
      std::copy(definition.begin(), definition.begin() + take, p.bytes.begin());
    } else {
      take = std::min<size_t>(ps - hdr, definition.size() - pos);
      p.bytes[0] = static_cast<uint8_t>(PageType::kTableDef);
      p.bytes[1] = 0x01;
      if (f.tdef_free_space_offset == 0) {
        std::copy(kTdefJet3Tag.begin(), kTdefJet3Tag.end(),
                  p.bytes.begin() + 2);
      }
      std::copy(definition.begin() + pos, definition.begin() + pos + take,
                p.bytes.begin() + hdr);
    }
    const size_t used = (pos == 0 ? 0 : hdr) + take;
    if (f.tdef_free_space_offset != 0) {
      StoreU16Le(&p.bytes[f.tdef_free_space_offset],
                 static_cast<uint16_t>(ps - used));
    }
    pos += take;
    pages.push_back(std::move(p));
    if (pos < definition.size()) {
      HVQ_ASSIGN_OR_RETURN(number, allocate());
      StoreU32Le(&pages.back().bytes[f.tdef_next_page_offset], number);
    }
  }
  return pages;
}

}  // namespace hvq::jet
