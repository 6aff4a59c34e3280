// Long values (memo and OLE columns).
//
// A row stores a 12-byte reference:
//   0  u32  length in the low 30 bits; the top two bits give the storage:
//           0x80 (in byte 3) inline: the data follows these 12 bytes
//           0x40 single page: the data is the whole row named at offset 4
//           0x00 chain: each row named holds a u32 row pointer to the next
//                row (0 = end) followed by a piece of the data
//   4  u32  row pointer (row in the low byte, page in the upper three)
//   8  u32  unknown (carried over by writers)
// Rows live on data pages (normally tagged "LVAL"). Reading is bounded by
// the declared length; chain cycles and pointers past the file are
// Corruption errors.
#ifndef HVQ_JET_LONG_VALUE_H_
#define HVQ_JET_LONG_VALUE_H_

#include <cstdint>
#include <vector>

#include "jet/byte_order.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

class PageFile;

enum class LongValueKind : uint8_t { kInline, kSinglePage, kChain };

struct LongValueRef {
  uint32_t length = 0;
  LongValueKind kind = LongValueKind::kInline;
  RowPointer pointer;
  uint32_t unknown = 0;
};

// Parses the 12-byte reference at the start of `column_bytes`.
Result<LongValueRef> ParseLongValueRef(Bytes column_bytes);

// Reads the whole value of a memo/OLE column given its row bytes.
Result<std::vector<uint8_t>> ReadLongValue(PageFile& file, Bytes column_bytes);

// Every (page, row) a long value occupies outside its row (empty for
// inline values). Used by integrity checks.
Result<std::vector<RowPointer>> LongValueRows(PageFile& file,
                                              Bytes column_bytes);

}  // namespace hvq::jet

#endif  // HVQ_JET_LONG_VALUE_H_
