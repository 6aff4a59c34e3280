// Long-value (memo/OLE) writer.
//
// A memo or OLE field in a row is a 12-byte reference, followed by the
// value itself when stored inline:
//   u24 length | u8 kind | u32 row pointer (page << 8 | row) | u32 0
// kind 0x80: the value follows the reference in the row (inline);
// kind 0x40: the value is one whole row of an LVAL page;
// kind 0x00: the value is a chain of LVAL rows, each a u32 row pointer to
//            the next piece (0 on the last) followed by the piece's bytes.
// LVAL pages are data pages whose tdef field holds "LVAL". The writer keeps
// one LVAL page open, packs pieces densely into it and hands each finished
// page to the sink; pages come from the caller's allocator.
//
// Reusable by any writer of fresh databases (builder, compactor).
#ifndef HVQ_JET_LONG_VALUE_WRITER_H_
#define HVQ_JET_LONG_VALUE_WRITER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "jet/byte_order.h"
#include "jet/data_page_builder.h"
#include "jet/format.h"
#include "jet/row_writer.h"
#include "platform/status.h"

namespace hvq::jet {

enum class LongValueStorage : uint8_t {
  kAuto,        // inline up to the format's limit, else one page, else chain
  kInline,      // 0x80
  kSinglePage,  // 0x40
  kChain,       // 0x00
};

class LongValueWriter {
 public:
  using Allocator = std::function<Result<uint32_t>()>;
  using PageSink = std::function<Status(uint32_t page, Bytes bytes)>;

  LongValueWriter(const Format& format, Allocator allocate, PageSink sink);

  // Stores `data` (the stored bytes: encoded text or raw binary) and
  // returns the row field (reference, plus the data when inline). A forced
  // storage kind the value cannot use (inline past 0xFFFFFF bytes, single
  // page larger than a page) is InvalidArgument.
  Result<RowField> Store(Bytes data,
                         LongValueStorage storage = LongValueStorage::kAuto);

  // Writes the open LVAL page, if any.
  Status Flush();

  // Every LVAL page this writer has handed out, in allocation order.
  const std::vector<uint32_t>& pages() const { return pages_; }

  // Largest piece one LVAL row may hold on an empty page.
  uint32_t MaxRowBytes() const;

 private:
  // Adds a row to the open page (opening a fresh one when needed) and
  // returns its row pointer.
  Result<uint32_t> AddPiece(Bytes row);

  const Format* format_;
  Allocator allocate_;
  PageSink sink_;
  std::unique_ptr<DataPageBuilder> open_;
  uint32_t open_page_ = 0;
  std::vector<uint32_t> pages_;
};

// The 12-byte reference of a long value.
std::vector<uint8_t> EncodeLongValueRef(uint32_t length, uint8_t kind,
                                        uint32_t row_pointer);

}  // namespace hvq::jet

#endif  // HVQ_JET_LONG_VALUE_WRITER_H_
