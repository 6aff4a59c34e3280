// Index keys: the bytes an index entry holds for a row's column values.
//
// A key is the concatenation, over the index's columns in index order, of
//   null value:   one flag byte, 0x00 ascending / 0xFF descending;
//   other values: a start flag, 0x7F ascending / 0x80 descending, then the
//                 value's bytes below (descending: every byte inverted,
//                 with the exceptions noted).
// Value bytes (big-endian, so that keys sort bytewise):
//   Byte                 the byte
//   Int, Long, Money     two's complement with the sign bit flipped
//   Float, Double, Date  IEEE bits; non-negative: sign bit flipped;
//                        negative: all bits inverted
//   Bool                 never null: 0x00 true / 0xFF false (ascending)
//   Numeric              0xFF non-negative / 0x00 negative, then the
//                        128-bit magnitude big-endian, inverted when
//                        negative (descending: sign byte kept, magnitude
//                        inverted when non-negative)
//   GUID, Binary         8-byte groups each followed by a marker: 0x09 when
//                        more data follows, else the count of used bytes in
//                        the last (zero-padded) group. Descending inverts all
//                        data bytes and the final marker, not inner 0x09s.
//                        GUIDs use the 16 bytes in textual order.
//   Text                 collation codes of the General sort order (an
//                        empirical table of Jet's own, see index_text.cc),
//                        then trailing bytes the collation defines.
// Values that we cannot turn into the engine's bytes (text in another
// collation or with characters outside our tables, OLE, complex types)
// give NotSupported; a compactor then carries the source's key bytes.
#ifndef HVQ_JET_INDEX_KEY_H_
#define HVQ_JET_INDEX_KEY_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "jet/format.h"
#include "jet/table_def.h"
#include "jet/value.h"
#include "platform/status.h"

namespace hvq::jet {

inline constexpr uint8_t kKeyNullAscending = 0x00;
inline constexpr uint8_t kKeyNullDescending = 0xFF;
inline constexpr uint8_t kKeyStartAscending = 0x7F;
inline constexpr uint8_t kKeyStartDescending = 0x80;

// How one index column is encoded.
struct KeyColumnSpec {
  ColumnType type = ColumnType::kLong;
  bool ascending = true;
  JetVersion version = JetVersion::kJet4;
  uint16_t sort_order = 0;   // text collation id (0x409 = General)
  uint8_t sort_version = 0;  // Jet 4 collation version
};

// Text collations we have tables for.
enum class TextCollation {
  kGeneral97,      // Jet 3 "General"
  kGeneralLegacy,  // Jet 4 "General" (collation 0x409, version 0)
  kUnsupported,
};
TextCollation CollationFor(const KeyColumnSpec& spec);

// Appends the key bytes of `value` for one column.
Status AppendColumnKey(const KeyColumnSpec& spec, const Value& value,
                       std::vector<uint8_t>* out);

// Specs of the columns of `index` in `def`; NotFound when the index names a
// column the table lacks.
Result<std::vector<KeyColumnSpec>> KeySpecsFor(const Format& format,
                                               const TableDef& def,
                                               const RealIndexDef& index);

// The key of a row for `index`; `row` holds the row's values in
// def.columns order (as Database::ScanRows yields them).
Result<std::vector<uint8_t>> EncodeIndexKey(const Format& format,
                                            const TableDef& def,
                                            const RealIndexDef& index,
                                            const std::vector<Value>& row);

// Whether `row` (values in def.columns order) has an entry in `index`:
// every row does, except in an index that ignores nulls, rows whose indexed
// columns are all null (a Bool column is never null here).
bool IndexCoversRow(const TableDef& def, const RealIndexDef& index,
                    const std::vector<Value>& row);

// Appends the text key bytes of UTF-8 `text` (without the start flag) under
// `collation`; NotSupported for characters outside its table.
Status AppendTextKey(TextCollation collation, std::string_view text,
                     bool ascending, std::vector<uint8_t>* out);

}  // namespace hvq::jet

#endif  // HVQ_JET_INDEX_KEY_H_
