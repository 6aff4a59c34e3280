// Row encoder: column values -> the bytes of one stored row.
//
// Jet 4 row (all integers u16 little-endian):
//   num_cols | fixed area | variable data | eod | var_table[n-1..0] |
//   var_len | null mask
// Jet 3 row (single bytes; offsets above 255 are taken modulo 256 and
// recovered through the jump table):
//   num_cols | fixed area | variable data | eod | var_table[n-1..0] |
//   jump_table[j-1..0] | var_len | null mask
// The null mask has one bit per column number (low bit first), 1 = value
// present; a Boolean column's value is its bit. Fixed columns sit at their
// fixed_offset after num_cols and keep their space when null; a variable
// column's bytes run from its var_table offset to the next one. A table
// without variable columns stores neither offsets nor var_len. The Jet 3
// jump table has (row length - 1) / 256 entries; entry k names the first
// var_table slot (eod counts as slot n) whose offset is at least
// (k + 1) * 256, and unused entries hold 0xFF.
//
// Reusable by every writer of rows (builder, compactor): EncodeFieldValue
// turns a Value into stored column bytes, EncodeRow assembles a row from
// such fields. Memo/OLE fields are produced by LongValueWriter.
#ifndef HVQ_JET_ROW_WRITER_H_
#define HVQ_JET_ROW_WRITER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format.h"
#include "jet/table_def.h"
#include "jet/value.h"
#include "platform/status.h"

namespace hvq::jet {

// One column of a row to encode, parallel to TableDef::columns.
struct RowField {
  bool present = false;       // false = NULL
  bool bool_value = false;    // Boolean columns: the null-mask bit
  std::vector<uint8_t> data;  // stored bytes (fixed: exactly column length)
};

// Text encoding choices for EncodeFieldValue.
struct TextOptions {
  uint16_t code_page = 1252;  // Jet 3 text
  // Jet 4: store text in the compressed form (0xFF 0xFE, one byte per
  // character) when every character is in U+0001..U+00FF. Honoured only for
  // columns flagged kColumnExtFlagCompressedUnicode.
  bool compress = true;
};

// Encodes `value` as the stored bytes of `column` (not Memo/OLE). Kinds
// must match the column type (Int for Byte/Int/Long, Bool or Int for
// Boolean, ...). Out-of-range integers and text longer than the column are
// InvalidArgument.
Result<RowField> EncodeFieldValue(const Format& format, const ColumnDef& column,
                                  const Value& value,
                                  const TextOptions& text = {});

// Jet 4 text bytes of `utf8`: compressed when `compress` and possible,
// else UCS-2. Jet 3: code page bytes.
std::vector<uint8_t> EncodeTextBytes(const Format& format,
                                     std::string_view utf8, bool compress,
                                     uint16_t code_page);

// Assembles a row. `fields` is parallel to def.columns. Fails with
// InvalidArgument on a size mismatch or when the row exceeds the format's
// maximum row size.
Result<std::vector<uint8_t>> EncodeRow(const Format& format,
                                       const TableDef& def,
                                       std::span<const RowField> fields);

// Bytes of the fixed area of `def` (after num_cols).
uint32_t FixedAreaSize(const TableDef& def);

}  // namespace hvq::jet

#endif  // HVQ_JET_ROW_WRITER_H_
