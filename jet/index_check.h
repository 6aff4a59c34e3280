// Consistency check of a table's indexes against its rows.
//
// For every real index of a table:
//  - the tree walks cleanly (see index_walk.h; damage stops that index);
//  - entries are in strictly ascending order of their full bytes;
//  - every entry points at a live row (the slot a row is listed at, as
//    Database::ScanRows reports it), and no row has two entries;
//  - every live row has an entry, except rows whose indexed columns are all
//    null in an index that ignores nulls, which must have none;
//  - where the key can be regenerated from the row's values (index_key.h),
//    it equals the entry's key bytes. Keys we cannot regenerate are counted,
//    not reported.
// Problems name a page and a byte offset within it: the index page and
// entry offset for entry problems, the data page for rows without entries.
// Memory does not grow with the row count: two bits per possible row slot
// (256 per page) of the pages up to the table's last one with a live row;
// rows are read again as each index needs them.
#ifndef HVQ_JET_INDEX_CHECK_H_
#define HVQ_JET_INDEX_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/index_walk.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

class Database;

struct IndexCheckStats {
  uint32_t indexes = 0;
  uint64_t entries = 0;
  uint64_t keys_compared = 0;       // regenerated and compared
  uint64_t keys_not_encodable = 0;  // NotSupported by index_key
};

// Checks every real index of `def` against its rows; appends findings to
// `problems`. Fails only when the table's rows cannot be read at all.
Status CheckTableIndexes(Database& db, const TableDef& def,
                         std::vector<IndexProblem>* problems,
                         IndexCheckStats* stats = nullptr);

// Checks every table (user and system) of the database.
Status CheckAllIndexes(Database& db, std::vector<IndexProblem>* problems,
                       IndexCheckStats* stats = nullptr);

// "page 12, offset 0x1e0: what" for reports.
std::string FormatIndexProblem(const IndexProblem& problem);

}  // namespace hvq::jet

#endif  // HVQ_JET_INDEX_CHECK_H_
