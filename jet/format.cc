// The per-version constant table. Values were checked against the corpus
// files of both versions (column entries, tdef headers, index pages).
#include "jet/format.h"

#include <string>

namespace hvq::jet {
namespace {

constexpr Format kJet3 = {
    .version = JetVersion::kJet3,
    .name = "Jet3",
    .page_size = 2048,
    .text_encoding = TextEncoding::kCodePage,
    .max_row_size = 2012,

    .header_masked_size = 126,
    .header_password_size = 20,
    .header_sort_order_offset = 0x3A,
    .header_sort_order_size = 2,
    .header_creation_date_offset = 0,

    .data_free_space_offset = 2,
    .data_tdef_offset = 4,
    .data_row_count_offset = 8,
    .data_row_table_offset = 10,
    .max_rows_per_page = 255,

    .row_column_count_size = 1,
    .row_var_offset_size = 1,

    .tdef_next_page_offset = 4,
    .tdef_length_offset = 8,
    .tdef_row_count_offset = 12,
    .tdef_autonumber_offset = 16,
    .tdef_autonumber_flag_offset = 0,
    .tdef_complex_autonumber_offset = 0,
    .tdef_table_type_offset = 20,
    .tdef_max_columns_offset = 21,
    .tdef_var_columns_offset = 23,
    .tdef_column_count_offset = 25,
    .tdef_logical_index_count_offset = 27,
    .tdef_real_index_count_offset = 31,
    .tdef_owned_pages_offset = 35,
    .tdef_free_pages_offset = 39,
    .tdef_header_size = 43,
    .tdef_continuation_header_size = 8,

    .real_index_slot_size = 8,
    .real_index_slot_row_count_offset = 4,

    .column_entry_size = 18,
    .column_type_offset = 0,
    .column_number_offset = 1,
    .column_var_index_offset = 3,
    .column_number2_offset = 5,
    .column_sort_order_offset = 9,
    .column_code_page_offset = 11,
    .column_sort_version_offset = 0,
    .column_precision_offset = 11,
    .column_scale_offset = 12,
    .column_flags_offset = 13,
    .column_ext_flags_offset = 0,
    .column_fixed_offset_offset = 14,
    .column_length_offset = 16,
    .name_length_size = 1,

    .real_index_entry_size = 39,
    .real_index_skip_before = 0,
    .real_index_usage_map_offset = 30,
    .real_index_first_page_offset = 34,
    .real_index_flags_offset = 38,

    .logical_index_entry_size = 20,
    .logical_index_skip_before = 0,
    .logical_index_number_offset = 0,
    .logical_index_real_offset = 4,
    .logical_index_rel_table_type_offset = 8,
    .logical_index_rel_index_offset = 9,
    .logical_index_rel_table_page_offset = 13,
    .logical_index_cascade_updates_offset = 17,
    .logical_index_cascade_deletes_offset = 18,
    .logical_index_type_offset = 19,

    .var_column_usage_entry_size = 10,

    .usage_map_inline_start_offset = 1,
    .usage_map_inline_bitmap_offset = 5,
    .usage_map_page_bitmap_offset = 4,
    .usage_map_table_bytes = 128,

    .long_value_max_inline = 64,
    .long_value_chain_next_size = 4,

    .index_free_space_offset = 2,
    .index_parent_offset = 4,
    .index_prev_offset = 8,
    .index_next_offset = 12,
    .index_tail_offset = 16,
    .index_prefix_length_offset = 20,
    .index_prefix_length_size = 1,
    .index_node_flag_offset = 21,
    .index_unknown_offset = 0,
    .index_entry_mask_offset = 22,
    .index_entry_mask_size = 226,
    .index_entries_offset = 22 + 226,

    .max_columns = 255,
    .max_indexes = 32,
    .max_name_length = 64,

    .tdef_free_space_offset = 0,
    .tdef_magic_offset = 0,
    .column_magic_offset = 0,
};

constexpr Format kJet4 = {
    .version = JetVersion::kJet4,
    .name = "Jet4",
    .page_size = 4096,
    .text_encoding = TextEncoding::kUcs2,
    .max_row_size = 4060,

    .header_masked_size = 128,
    .header_password_size = 40,
    .header_sort_order_offset = 0x6E,
    .header_sort_order_size = 4,
    .header_creation_date_offset = 0x72,

    .data_free_space_offset = 2,
    .data_tdef_offset = 4,
    .data_row_count_offset = 12,
    .data_row_table_offset = 14,
    .max_rows_per_page = 255,

    .row_column_count_size = 2,
    .row_var_offset_size = 2,

    .tdef_next_page_offset = 4,
    .tdef_length_offset = 8,
    .tdef_row_count_offset = 16,
    .tdef_autonumber_offset = 20,
    .tdef_autonumber_flag_offset = 24,
    .tdef_complex_autonumber_offset = 28,
    .tdef_table_type_offset = 40,
    .tdef_max_columns_offset = 41,
    .tdef_var_columns_offset = 43,
    .tdef_column_count_offset = 45,
    .tdef_logical_index_count_offset = 47,
    .tdef_real_index_count_offset = 51,
    .tdef_owned_pages_offset = 55,
    .tdef_free_pages_offset = 59,
    .tdef_header_size = 63,
    .tdef_continuation_header_size = 8,

    .real_index_slot_size = 12,
    .real_index_slot_row_count_offset = 4,

    .column_entry_size = 25,
    .column_type_offset = 0,
    .column_number_offset = 5,
    .column_var_index_offset = 7,
    .column_number2_offset = 9,
    .column_sort_order_offset = 11,
    .column_code_page_offset = 0,
    .column_sort_version_offset = 14,
    .column_precision_offset = 11,
    .column_scale_offset = 12,
    .column_flags_offset = 15,
    .column_ext_flags_offset = 16,
    .column_fixed_offset_offset = 21,
    .column_length_offset = 23,
    .name_length_size = 2,

    .real_index_entry_size = 52,
    .real_index_skip_before = 4,
    .real_index_usage_map_offset = 34,
    .real_index_first_page_offset = 38,
    .real_index_flags_offset = 46,

    .logical_index_entry_size = 28,
    .logical_index_skip_before = 4,
    .logical_index_number_offset = 4,
    .logical_index_real_offset = 8,
    .logical_index_rel_table_type_offset = 12,
    .logical_index_rel_index_offset = 13,
    .logical_index_rel_table_page_offset = 17,
    .logical_index_cascade_updates_offset = 21,
    .logical_index_cascade_deletes_offset = 22,
    .logical_index_type_offset = 23,

    .var_column_usage_entry_size = 10,

    .usage_map_inline_start_offset = 1,
    .usage_map_inline_bitmap_offset = 5,
    .usage_map_page_bitmap_offset = 4,
    .usage_map_table_bytes = 64,

    .long_value_max_inline = 64,
    .long_value_chain_next_size = 4,

    .index_free_space_offset = 2,
    .index_parent_offset = 4,
    .index_prev_offset = 12,
    .index_next_offset = 16,
    .index_tail_offset = 20,
    .index_prefix_length_offset = 24,
    .index_prefix_length_size = 2,
    .index_node_flag_offset = 26,
    .index_unknown_offset = 8,
    .index_entry_mask_offset = 27,
    .index_entry_mask_size = 453,
    .index_entries_offset = 27 + 453,

    .max_columns = 255,
    .max_indexes = 32,
    .max_name_length = 64,

    .tdef_free_space_offset = 2,
    .tdef_magic_offset = 12,
    .column_magic_offset = 1,
};

}  // namespace

const Format& FormatFor(JetVersion version) {
  return version == JetVersion::kJet3 ? kJet3 : kJet4;
}

Result<const Format*> FormatForVersionByte(uint8_t version_byte) {
  switch (version_byte) {
    case 0x00:
      return &kJet3;
    case 0x01:
      return &kJet4;
    default:
      break;
  }
  if (version_byte >= kFirstAceVersionByte && version_byte <= 0x05) {
    return Status::NotSupported(
        "ACE database (version byte 0x" +
        std::string(1, "0123456789abcdef"[version_byte >> 4]) +
        std::string(1, "0123456789abcdef"[version_byte & 15]) +
        "): only Jet 3 and Jet 4 .mdb files are supported");
  }
  return Status::NotSupported(
      "unknown database version byte " + std::to_string(version_byte) +
      ": only Jet 3 and Jet 4 .mdb files are supported");
}

}  // namespace hvq::jet
