// Table definition writer: TableDef model -> tdef pages.
//
// Writes the layout described in table_def.h, field for field, from the
// model: header (row count, autonumber seeds, table type, counts, usage map
// row pointers), real-index slots, column entries, column names, real
// indexes, logical indexes, index names and the variable-column usage
// trailer (terminated by a column number 0xFFFF entry). The `raw` members of
// the model are ignored: every byte is derived from the typed fields, with
// the constants real files carry (jet/format.h) in the unknown places.
//
// The definition may span several type-0x02 pages: the first page holds the
// 8-byte page header and definition bytes to the page end, each
// continuation page an 8-byte header (type, 1, free space, next page) and
// the following bytes. The u32 length at offset 8 counts every definition
// byte after the first page's 8-byte header.
//
// Reusable by any writer of fresh databases (builder, compactor).
#ifndef HVQ_JET_TABLE_DEF_WRITER_H_
#define HVQ_JET_TABLE_DEF_WRITER_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/format.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

// Concatenated definition bytes of `def` (what ParseTableDef reads), with
// the page-header fields left zero. `code_page` encodes Jet 3 names.
// InvalidArgument for names too long, too many columns or indexes, or
// index columns that name no column.
Result<std::vector<uint8_t>> EncodeTableDefBytes(const Format& format,
                                                 const TableDef& def,
                                                 uint16_t code_page = 1252);

struct TableDefPage {
  uint32_t page_number = 0;
  std::vector<uint8_t> bytes;
};

// Splits definition bytes into pages: the first is `first_page`, further
// pages come from `allocate`.
Result<std::vector<TableDefPage>> BuildTableDefPages(
    const Format& format, std::vector<uint8_t> definition, uint32_t first_page,
    const std::function<Result<uint32_t>()>& allocate);

}  // namespace hvq::jet

#endif  // HVQ_JET_TABLE_DEF_WRITER_H_
