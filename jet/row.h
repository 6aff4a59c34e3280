// Row layout: splitting a stored row into column values.
//
// Jet 4 row:  u16 column count | fixed area | variable data |
//             u16 end-of-data | u16 var offsets (reversed) | u16 var count |
//             null mask
// Jet 3 row:  u8 column count | fixed area | variable data |
//             u8 end-of-data | u8 var offsets (reversed) | jump table
//             (reversed) | u8 var count | null mask
// The null mask has one bit per column number of the row, LSB first;
// 1 = present. Boolean columns keep their value in that bit. Fixed columns
// sit at column count size + fixed offset. Jet 3 offsets are one byte; each
// jump-table entry names the first variable column whose offset is 256
// higher (a trailing entry may be an unused 0xFF). A table with no variable
// columns stores neither offsets nor counts. Columns added after a row was
// written (number >= the row's column count, or var index >= its var
// count) read as null.
#ifndef HVQ_JET_ROW_H_
#define HVQ_JET_ROW_H_

#include <cstdint>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "jet/table_def.h"
#include "jet/value.h"
#include "platform/status.h"

namespace hvq::jet {

class PageFile;

// One column of a cracked row; `data` points into the row bytes.
struct ColumnSlice {
  const ColumnDef* column = nullptr;
  bool present = false;  // null-mask bit (Bool: the value)
  Bytes data;            // empty for Bool and nulls
};

// Splits `row` by the columns of `def`, in the order of def.columns.
// Every offset is checked against the row; `page`/`offset` locate errors.
Result<std::vector<ColumnSlice>> CrackRow(const Format& format,
                                          const TableDef& def, Bytes row,
                                          uint32_t page, uint32_t offset);

// Decodes one slice to a canonical value; long values are fetched through
// `file`; Jet 3 text uses `code_page` (0 = Windows-1252). Complex and
// unknown column types are NotSupported.
Result<Value> DecodeSlice(PageFile& file, const ColumnSlice& slice,
                          uint16_t code_page);

}  // namespace hvq::jet

#endif  // HVQ_JET_ROW_H_
