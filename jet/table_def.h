// Table definition (TDEF) model, reader and encoder.
//
// A table definition starts on a page of type 0x02 and may continue on
// further 0x02 pages linked by the u32 next-page pointer at offset 4. The
// definition bytes are the first page whole followed by every continuation
// page minus its 8-byte header. Layout of the concatenated bytes (offsets
// per version in jet/format.h):
//
//   header            row count, autonumber seeds, table type, column and
//                     index counts, row pointers of the two usage maps
//   real-index slots  num_real_idx x (unknown u32, row count u32[, u32])
//   column entries    num_cols x fixed-size entry
//   column names      num_cols x (length, name)   Jet 3 code page / Jet 4 UCS-2
//   real indexes      num_real_idx x (10 x (col u16, order u8), usage map
//                     row pointer, first index page, flags, unknown)
//   logical indexes   num_idx x (number, real index, foreign-key fields, type)
//   index names       num_idx x (length, name)
//   var-col trailer   (col u16, used u32, free u32)... until col 0xFFFF
//
// Reading never mutates; fields of unknown meaning are kept as raw bytes
// (`raw` members) so a writer can carry them over unchanged.
#ifndef HVQ_JET_TABLE_DEF_H_
#define HVQ_JET_TABLE_DEF_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

class PageFile;

// Column data types as stored in a column entry.
enum class ColumnType : uint8_t {
  kBool = 0x01,
  kByte = 0x02,
  kInt = 0x03,       // 16-bit signed
  kLong = 0x04,      // 32-bit signed
  kMoney = 0x05,     // 64-bit signed, scaled by 10^4
  kFloat = 0x06,     // IEEE single
  kDouble = 0x07,    // IEEE double
  kDateTime = 0x08,  // double, days since 1899-12-30
  kBinary = 0x09,    // up to 255 bytes, variable
  kText = 0x0A,      // up to 255 characters, variable
  kOle = 0x0B,       // long binary (long value)
  kMemo = 0x0C,      // long text (long value)
  kUnknown0D = 0x0D,
  kUnknown0E = 0x0E,
  kGuid = 0x0F,     // 16 bytes
  kNumeric = 0x10,  // 17 bytes: sign byte + 16-byte magnitude, scaled
  kUnknown11 = 0x11,
  kComplex = 0x12,  // ACE attachment / multi-value: refused when read
  kBigInt = 0x13,   // ACE
};

std::string_view ColumnTypeName(ColumnType type);

// Bytes a value of a fixed-size type takes in a row's fixed area. 0 for Bool
// (the null-mask bit is its value) and for variable or unknown types.
size_t FixedDataSize(ColumnType type);

// Column flag bits.
inline constexpr uint8_t kColumnFlagFixed = 0x01;
inline constexpr uint8_t kColumnFlagNullable = 0x02;
inline constexpr uint8_t kColumnFlagAutoLong = 0x04;
inline constexpr uint8_t kColumnFlagReplication = 0x10;
inline constexpr uint8_t kColumnFlagAutoGuid = 0x40;
inline constexpr uint8_t kColumnFlagHyperlink = 0x80;
// Extended flag bits (Jet 4).
inline constexpr uint8_t kColumnExtFlagCompressedUnicode = 0x01;

// Real-index flag bits.
inline constexpr uint8_t kIndexFlagUnique = 0x01;
inline constexpr uint8_t kIndexFlagIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexFlagRequired = 0x08;

// Logical index types.
inline constexpr uint8_t kIndexTypeNormal = 0x00;
inline constexpr uint8_t kIndexTypePrimary = 0x01;
inline constexpr uint8_t kIndexTypeForeign = 0x02;

// A 4-byte row pointer: row number in the low byte, page in the upper 3.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;

  static RowPointer FromU32(uint32_t v) {
    return RowPointer{v >> 8, static_cast<uint8_t>(v & 0xFF)};
  }
  uint32_t ToU32() const { return (page << 8) | row; }
  bool operator==(const RowPointer&) const = default;
};

struct ColumnDef {
  ColumnType type = ColumnType::kLong;
  std::string name;           // UTF-8
  uint16_t number = 0;        // column number; deleted columns leave gaps
  uint16_t var_index = 0;     // slot in the row's variable-offset table
  uint16_t fixed_offset = 0;  // offset within the row's fixed area
  uint16_t length = 0;        // bytes (text: bytes, i.e. 2x chars in Jet 4)
  uint8_t flags = 0;
  uint8_t ext_flags = 0;     // Jet 4 only
  uint8_t precision = 0;     // numeric only
  uint8_t scale = 0;         // numeric only
  uint16_t sort_order = 0;   // text collation id (0x409 = General)
  uint8_t sort_version = 0;  // Jet 4 collation version
  uint16_t code_page = 0;    // Jet 3 text code page (0 if unknown)
  std::vector<uint8_t> raw;  // the whole column entry as stored

  bool is_fixed() const { return (flags & kColumnFlagFixed) != 0; }
  bool is_long_value() const {
    return type == ColumnType::kMemo || type == ColumnType::kOle;
  }
  bool is_text() const {
    return type == ColumnType::kText || type == ColumnType::kMemo;
  }
  bool is_autonumber() const { return (flags & kColumnFlagAutoLong) != 0; }
  bool compressed_unicode() const {
    return (ext_flags & kColumnExtFlagCompressedUnicode) != 0;
  }
};

struct IndexColumn {
  uint16_t column_number = 0;  // refers to ColumnDef::number
  bool ascending = true;
  bool operator==(const IndexColumn&) const = default;
};

// A physical index: its B-tree and the columns it is keyed on.
struct RealIndexDef {
  uint32_t slot_row_count = 0;  // from the real-index slot block
  std::vector<IndexColumn> columns;
  RowPointer usage_map;     // row pointer to the index's usage map
  uint32_t first_page = 0;  // root index page
  uint8_t flags = 0;
  std::vector<uint8_t> slot_raw;  // the real-index slot block as stored
  std::vector<uint8_t> raw;       // the real-index entry as stored

  bool unique() const { return (flags & kIndexFlagUnique) != 0; }
  bool ignore_nulls() const { return (flags & kIndexFlagIgnoreNulls) != 0; }
  bool required() const { return (flags & kIndexFlagRequired) != 0; }
};

// A named index as the user sees it; several may share one real index.
struct LogicalIndexDef {
  std::string name;  // UTF-8
  uint32_t index_number = 0;
  uint32_t real_index = 0;  // position in TableDef::real_indexes
  uint8_t related_table_type = 0;
  std::optional<uint32_t> related_index;  // absent when stored as 0xFFFFFFFF
  uint32_t related_table_page = 0;
  bool cascade_updates = false;
  bool cascade_deletes = false;
  uint8_t type = kIndexTypeNormal;  // kIndexType*
  std::vector<uint8_t> raw;         // the logical-index entry as stored

  bool is_primary() const { return type == kIndexTypePrimary; }
  bool is_foreign() const { return type == kIndexTypeForeign; }
};

// Usage-map row pointers kept per variable/long-value column.
struct VarColumnUsage {
  uint16_t column_number = 0;
  RowPointer used_pages;
  RowPointer free_pages;
};

// Where the blocks of a parsed definition start within its concatenated
// bytes, so a writer can patch a stored definition field by field. `end` is
// just past the last byte the parser read.
struct TableDefLayout {
  uint32_t real_index_slots = 0;
  uint32_t real_indexes = 0;
  uint32_t logical_indexes = 0;
  uint32_t var_column_usage = 0;  // first trailer entry
  uint32_t end = 0;
};

struct TableDef {
  JetVersion version = JetVersion::kJet4;
  uint32_t first_page = 0;      // page of the first tdef page
  std::vector<uint32_t> pages;  // every tdef page, in chain order
  uint32_t row_count = 0;       // as stored (may be stale)
  uint32_t next_autonumber = 0;
  uint8_t autonumber_flag = 0;           // Jet 4 only
  uint32_t next_complex_autonumber = 0;  // Jet 4 only
  uint8_t table_type = kTableTypeUser;
  uint16_t max_columns = 0;
  uint16_t var_column_count = 0;
  RowPointer owned_pages;          // usage map of pages owned by the table
  RowPointer free_pages;           // usage map of owned pages with free space
  std::vector<ColumnDef> columns;  // in stored order (not number order)
  std::vector<RealIndexDef> real_indexes;
  std::vector<LogicalIndexDef> logical_indexes;
  std::vector<VarColumnUsage> var_column_usage;
  std::vector<uint8_t> header_raw;   // the tdef header bytes as stored
  std::vector<uint8_t> trailer_raw;  // bytes after the var-col trailer
  TableDefLayout layout;             // set by ParseTableDef

  bool is_system() const { return table_type == kTableTypeSystem; }
  // Columns sorted by column number (row layout order).
  std::vector<const ColumnDef*> ColumnsByNumber() const;
  const ColumnDef* FindColumn(uint16_t number) const;
  const ColumnDef* FindColumn(std::string_view name) const;
};

// Reads the table definition whose first page is `page`. Follows the page
// chain (bounded by the file's page count, loops are Corruption).
Result<TableDef> ReadTableDef(PageFile& file, uint32_t page);

// Parses already concatenated definition bytes (first page whole, later
// pages minus their header). Exposed for tests and fuzzing.
// `code_page` decodes Jet 3 names (0 = Windows-1252).
Result<TableDef> ParseTableDef(const Format& format, uint32_t first_page,
                               std::span<const uint8_t> bytes,
                               uint16_t code_page = 0);

// Concatenated definition bytes of the tdef chain starting at `page`, and
// the pages visited.
Status ReadTableDefBytes(PageFile& file, uint32_t page,
                         std::vector<uint8_t>* bytes,
                         std::vector<uint32_t>* pages);

}  // namespace hvq::jet

#endif  // HVQ_JET_TABLE_DEF_H_
