// Data page builder: packs rows densely into one type-0x01 page.
//
// Layout written (offsets from jet/format.h):
//   0 u8 0x01 | 1 u8 0x01 | free space u16 | tdef page u32 or "LVAL" |
//   (Jet 4: u32 0) | row count u16 | row-offset table u16[n] | ... free ... |
//   rows, the first one ending at the page end, each next one right below
//   the previous.
// Free space = page size - header - 2 x slots - bytes of all rows (rows
// marked deleted keep their bytes and their space).
//
// Reusable by any writer of data pages (builder, compactor, long values).
#ifndef HVQ_JET_DATA_PAGE_BUILDER_H_
#define HVQ_JET_DATA_PAGE_BUILDER_H_

#include <cstdint>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

class DataPageBuilder {
 public:
  // A page of table `tdef_page`; `long_value` writes "LVAL" instead.
  DataPageBuilder(const Format& format, uint32_t tdef_page,
                  bool long_value = false);

  // Room left for one more row of `size` bytes (with its slot).
  bool Fits(size_t row_size) const;
  // Bytes one more row may have on this page.
  uint32_t Room() const;
  // Appends a row; returns its row number, or InvalidArgument when it does
  // not fit or the page already holds the maximum number of rows.
  Result<uint8_t> AddRow(Bytes row, uint16_t flags = 0);
  // Sets flag bits (kRowDeletedMask, ...) on an added row.
  Status SetRowFlags(uint8_t row, uint16_t flags);

  uint32_t row_count() const { return static_cast<uint32_t>(offsets_.size()); }
  bool empty() const { return offsets_.empty(); }
  // The finished page (the builder stays usable; Reset() starts over).
  std::vector<uint8_t> Build() const;
  void Reset();

 private:
  const Format* format_;
  uint32_t tdef_page_;
  bool long_value_;
  std::vector<uint8_t> page_;      // rows are written in place at the end
  std::vector<uint16_t> offsets_;  // raw slot values
  uint32_t low_ = 0;               // lowest row byte used
};

// Marks row `row` of the plain data page `page` deleted (flag 0xC000).
// Corruption when the page is not a data page or the slot does not exist.
Status MarkRowDeleted(const Format& format, MutableBytes page, uint32_t row);

}  // namespace hvq::jet

#endif  // HVQ_JET_DATA_PAGE_BUILDER_H_
