// Per-version layout constants of Jet 3 and Jet 4 database files.
//
// Every byte offset, record size and limit that differs between Jet 3
// (2 KiB pages) and Jet 4 (4 KiB pages) lives in one table of `Format`
// values defined in format.cc. Code elsewhere asks `FormatFor(version)` and
// never writes version-specific literals of its own.
//
// Offsets are relative to the start of the structure named in the group
// comment (page start, column entry start, ...). A value of 0 for an
// optional field (marked "0 = absent") means the version has no such field.
#ifndef HVQ_JET_FORMAT_H_
#define HVQ_JET_FORMAT_H_

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/status.h"

namespace hvq::jet {

enum class JetVersion : uint8_t { kJet3 = 0, kJet4 = 1 };

// Page types: first byte of each page.
enum class PageType : uint8_t {
  kDatabaseHeader = 0x00,  // page 0 only; also seen on never-used pages
  kData = 0x01,
  kTableDef = 0x02,
  kIndexIntermediate = 0x03,
  kIndexLeaf = 0x04,
  kUsageMap = 0x05,
};

// Text encoding of names and text values.
enum class TextEncoding : uint8_t {
  kCodePage,  // Jet 3: single-byte text in the database code page
  kUcs2,      // Jet 4: UTF-16LE, optionally "compressed" (0xFF 0xFE prefix)
};

// Row-offset table entry flags (data pages). Measured on real files:
// a deleted slot carries both high bits, an overflow pointer row 0x4000 and
// the row an overflow pointer points to 0x8000.
inline constexpr uint16_t kRowDeletedMask = 0xC000;
inline constexpr uint16_t kRowOverflowPointerFlag = 0x4000;
inline constexpr uint16_t kRowOverflowTargetFlag = 0x8000;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;

// Header page (page 0) facts shared by both versions.
inline constexpr uint32_t kHeaderVersionOffset = 0x14;
inline constexpr uint32_t kHeaderMaskedOffset = 0x18;
inline constexpr std::array<uint8_t, 4> kHeaderMaskKey = {0xC7, 0xDA, 0x39,
                                                          0x6B};
inline constexpr uint32_t kHeaderCodePageOffset = 0x3C;
inline constexpr uint32_t kHeaderDatabaseKeyOffset = 0x3E;
inline constexpr uint32_t kHeaderPasswordOffset = 0x42;
// Version bytes at 0x14 at or above this value are ACE (.accdb) files.
inline constexpr uint8_t kFirstAceVersionByte = 0x02;

// Long-value (memo/OLE) reference stored in a row: 12 bytes.
inline constexpr uint32_t kLongValueRefSize = 12;
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSinglePage = 0x40;
inline constexpr uint8_t kLongValueChain = 0x00;
// Data pages holding long values carry "LVAL" where the tdef pointer sits.
inline constexpr std::array<uint8_t, 4> kLongValuePageTag = {'L', 'V', 'A',
                                                             'L'};

// Real index definitions have this many (column, order) slots.
inline constexpr uint32_t kIndexColumnSlots = 10;
inline constexpr uint16_t kIndexNoColumn = 0xFFFF;

// Table types in a tdef.
inline constexpr uint8_t kTableTypeUser = 0x4E;
inline constexpr uint8_t kTableTypeSystem = 0x53;

// Constant u32 values of unknown meaning that real files carry: in Jet 4
// tdef headers, column entries and logical-index entries (kTdefMagic), and
// before the column slots of Jet 4 real-index entries (kRealIndexMagic).
inline constexpr uint32_t kTdefMagic = 1625;
inline constexpr uint32_t kRealIndexMagic = 1923;
inline constexpr std::array<uint8_t, 2> kTdefJet3Tag = {'V', 'C'};

// The catalog table (MSysObjects) always has its tdef on this page.
inline constexpr uint32_t kCatalogTdefPage = 2;
// The global usage map lives on this page.
inline constexpr uint32_t kGlobalUsageMapPage = 1;

struct Format {
  JetVersion version;
  std::string_view name;  // "Jet3" / "Jet4"
  uint32_t page_size;
  TextEncoding text_encoding;
  uint32_t max_row_size;

  // Header page.
  uint32_t header_masked_size;    // bytes of the RC4-masked region
  uint32_t header_password_size;  // bytes of the stored password
  uint32_t header_sort_order_offset;
  uint32_t header_sort_order_size;
  uint32_t header_creation_date_offset;  // 0 = absent

  // Data pages (type 0x01) and long-value pages.
  uint32_t data_free_space_offset;  // u16
  uint32_t data_tdef_offset;        // u32: owning table's tdef page
  uint32_t data_row_count_offset;   // u16
  uint32_t data_row_table_offset;   // first u16 row-offset entry
  uint32_t max_rows_per_page;

  // Rows.
  uint32_t row_column_count_size;  // 1 or 2
  uint32_t row_var_offset_size;    // 1 (plus jump table) or 2

  // Table definition pages (type 0x02), offsets from page start.
  uint32_t tdef_next_page_offset;  // u32 chain pointer
  uint32_t tdef_length_offset;     // u32 length of definition data
  uint32_t tdef_row_count_offset;
  uint32_t tdef_autonumber_offset;
  uint32_t tdef_autonumber_flag_offset;     // 0 = absent
  uint32_t tdef_complex_autonumber_offset;  // 0 = absent
  uint32_t tdef_table_type_offset;
  uint32_t tdef_max_columns_offset;
  uint32_t tdef_var_columns_offset;
  uint32_t tdef_column_count_offset;
  uint32_t tdef_logical_index_count_offset;
  uint32_t tdef_real_index_count_offset;
  uint32_t tdef_owned_pages_offset;  // u32 row pointer to usage map
  uint32_t tdef_free_pages_offset;   // u32 row pointer to usage map
  uint32_t tdef_header_size;         // where the real-index slots start
  // Continuation tdef pages: definition bytes resume after this header.
  uint32_t tdef_continuation_header_size;

  // Per real index: row-count slot that precedes the column entries.
  uint32_t real_index_slot_size;
  uint32_t real_index_slot_row_count_offset;

  // Column entries (offsets within one entry).
  uint32_t column_entry_size;
  uint32_t column_type_offset;
  uint32_t column_number_offset;
  uint32_t column_var_index_offset;
  uint32_t column_number2_offset;
  uint32_t column_sort_order_offset;    // u16 collation id for text
  uint32_t column_code_page_offset;     // 0 = absent (Jet 4)
  uint32_t column_sort_version_offset;  // 0 = absent
  uint32_t column_precision_offset;
  uint32_t column_scale_offset;
  uint32_t column_flags_offset;
  uint32_t column_ext_flags_offset;  // 0 = absent
  uint32_t column_fixed_offset_offset;
  uint32_t column_length_offset;
  uint32_t name_length_size;  // 1 (Jet 3) or 2 (Jet 4), byte count

  // Real index definitions.
  uint32_t real_index_entry_size;
  uint32_t real_index_skip_before;       // unknown bytes before column slots
  uint32_t real_index_usage_map_offset;  // within entry
  uint32_t real_index_first_page_offset;
  uint32_t real_index_flags_offset;

  // Logical index definitions.
  uint32_t logical_index_entry_size;
  uint32_t logical_index_skip_before;
  uint32_t logical_index_number_offset;
  uint32_t logical_index_real_offset;
  uint32_t logical_index_rel_table_type_offset;
  uint32_t logical_index_rel_index_offset;
  uint32_t logical_index_rel_table_page_offset;
  uint32_t logical_index_cascade_updates_offset;
  uint32_t logical_index_cascade_deletes_offset;
  uint32_t logical_index_type_offset;

  // Variable-column usage trailer entry (col_num u16, used u32, free u32).
  uint32_t var_column_usage_entry_size;

  // Usage maps.
  uint32_t usage_map_inline_start_offset;  // u32 first page (type 0)
  uint32_t usage_map_inline_bitmap_offset;
  uint32_t usage_map_page_bitmap_offset;  // in type 0x05 pages
  uint32_t usage_map_table_bytes;         // fixed size of table map rows

  // Long values.
  uint32_t long_value_max_inline;
  uint32_t long_value_chain_next_size;  // u32 next pointer in chain rows

  // Index pages (types 0x03 / 0x04), offsets from page start.
  uint32_t index_free_space_offset;
  uint32_t index_parent_offset;
  uint32_t index_prev_offset;
  uint32_t index_next_offset;
  uint32_t index_tail_offset;
  uint32_t index_prefix_length_offset;
  uint32_t index_prefix_length_size;  // 1 (Jet 3) or 2 (Jet 4)
  uint32_t index_node_flag_offset;    // u8: 1 intermediate, 0 leaf
  uint32_t index_unknown_offset;      // u32 of unknown use; 0 = absent
  uint32_t index_entry_mask_offset;
  uint32_t index_entry_mask_size;
  uint32_t index_entries_offset;  // mask offset + mask size

  // Limits.
  uint32_t max_columns;
  uint32_t max_indexes;
  uint32_t max_name_length;

  // Constants real files carry that writers reproduce (0 = absent).
  uint32_t tdef_free_space_offset;  // u16 page free space - 8 (Jet 4);
                                    // Jet 3 stores kTdefJet3Tag there
  uint32_t tdef_magic_offset;       // u32 kTdefMagic in the tdef header
  uint32_t column_magic_offset;     // u32 kTdefMagic in each column entry
};

const Format& FormatFor(JetVersion version);

// Maps header byte 0x14 to a format. ACE files and unknown values are
// refused with NotSupported naming the version byte.
Result<const Format*> FormatForVersionByte(uint8_t version_byte);

}  // namespace hvq::jet

#endif  // HVQ_JET_FORMAT_H_
