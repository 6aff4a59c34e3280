// Index consistency check; contract in index_check.h.
//
// Memory does not grow with the row count beyond one bit per possible row
// slot: a scan of the table marks each live row in a bitset indexed by
// (page, row) of the slot that lists it, over the pages up to the last one
// holding a live row. Each index is then walked in key order; every entry's
// row is fetched again and only that index's columns are decoded. A second
// bitset marks the slots an index has an entry for; the live slots left
// unmarked afterwards are the rows without an entry, reported in slot order.
#include "jet/index_check.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <limits>
#include <utility>

#include "jet/database.h"
#include "jet/index_key.h"
#include "jet/row.h"

namespace hvq::jet {
namespace {

// Row numbers are one byte wide, so a page has at most this many slots.
constexpr size_t kSlotsPerPage =
    size_t{std::numeric_limits<uint8_t>::max()} + 1;
constexpr size_t kWordBits = 64;

// One bit per (page, row) slot for pages [0, span). Slots past the span
// read as clear. The span grows as bits are set, never past `max_pages`
// unless a set page demands it.
class SlotBits {
 public:
  explicit SlotBits(size_t max_pages) : max_pages_(max_pages) {}

  void Resize(size_t pages) {
    words_.assign(pages * kSlotsPerPage / kWordBits, 0);
  }
  size_t pages() const { return words_.size() * kWordBits / kSlotsPerPage; }

  // Grows the span to cover `page`.
  void Set(uint32_t page, uint8_t row) {
    const size_t slot = Slot(page, row);
    if (slot / kWordBits >= words_.size()) {
      const size_t span =
          std::max<size_t>(size_t{page} + 1, std::min(pages() * 2, max_pages_));
      words_.resize(span * kSlotsPerPage / kWordBits, 0);
    }
    words_[slot / kWordBits] |= uint64_t{1} << (slot % kWordBits);
  }
  bool Has(uint32_t page, uint8_t row) const {
    const size_t slot = Slot(page, row);
    return slot / kWordBits < words_.size() &&
           (words_[slot / kWordBits] >> (slot % kWordBits)) & 1;
  }
  // Sets the bit; returns whether it was already set. `page` must be
  // within the span.
  bool TestAndSet(uint32_t page, uint8_t row) {
    const size_t slot = Slot(page, row);
    uint64_t& word = words_[slot / kWordBits];
    const uint64_t bit = uint64_t{1} << (slot % kWordBits);
    const bool was = (word & bit) != 0;
    word |= bit;
    return was;
  }
  void ClearAll() { std::fill(words_.begin(), words_.end(), 0); }

  // Calls `visit(page, row)` for every slot set here and clear in `other`
  // (same span), in ascending slot order; stops at the first error.
  template <typename Visit>
  Status ForEachNotIn(const SlotBits& other, Visit visit) const {
    for (size_t w = 0; w < words_.size(); ++w) {
      uint64_t bits = words_[w] & ~other.words_[w];
      while (bits != 0) {
        const size_t slot = w * kWordBits + std::countr_zero(bits);
        bits &= bits - 1;
        HVQ_RETURN_IF_ERROR(visit(static_cast<uint32_t>(slot / kSlotsPerPage),
                                  static_cast<uint8_t>(slot % kSlotsPerPage)));
      }
    }
    return Status::Ok();
  }

 private:
  static size_t Slot(uint32_t page, uint8_t row) {
    return size_t{page} * kSlotsPerPage + row;
  }

  size_t max_pages_;
  std::vector<uint64_t> words_;
};

std::string RowName(uint32_t page, uint8_t row) {
  return "page " + std::to_string(page) + " row " + std::to_string(row);
}

// Reads the row listed at (page, row) and decodes the columns marked in
// `wanted` into `values` (def.columns order, others null). `bytes` is
// scratch space.
Status DecodeIndexedValues(Database& db, const TableDef& def,
                           const std::vector<bool>& wanted, uint32_t page,
                           uint8_t row, std::vector<uint8_t>* bytes,
                           std::vector<Value>* values) {
  RowLocation loc;
  HVQ_RETURN_IF_ERROR(ResolveRow(db.pages(), page, row, &loc, bytes));
  HVQ_ASSIGN_OR_RETURN(std::vector<ColumnSlice> slices,
                       CrackRow(db.format(), def, *bytes, loc.data_page, 0));
  values->assign(slices.size(), Value::Null());
  for (size_t i = 0; i < slices.size() && i < wanted.size(); ++i) {
    if (!wanted[i]) continue;
    auto v = DecodeSlice(db.pages(), slices[i], db.header().code_page);
    if (!v.ok()) {
      return v.status().WithContext(RowName(loc.data_page, loc.data_row) +
                                    " column '" + slices[i].column->name + "'");
    }
    (*values)[i] = std::move(*v);
  }
  return Status::Ok();
}

}  // namespace

std::string FormatIndexProblem(const IndexProblem& p) {
  char where[64];
  std::snprintf(where, sizeof where, "page %u, offset 0x%x: ", p.page,
                p.offset);
  return where + p.what;
}

Status CheckTableIndexes(Database& db, const TableDef& def,
                         std::vector<IndexProblem>* problems,
                         IndexCheckStats* stats) {
  IndexCheckStats local;
  if (stats == nullptr) stats = &local;
  if (def.real_indexes.empty()) return Status::Ok();

  // Decoding every row here keeps "rows cannot be read" a failure of the
  // whole check, before any index is looked at.
  SlotBits live(db.pages().page_count());
  Status scan =
      db.ScanRows(def, [&](const RowLocation& loc, const std::vector<Value>&) {
        live.Set(loc.page, loc.row);
        return true;
      });
  HVQ_RETURN_IF_ERROR(scan);
  SlotBits seen(live.pages());
  seen.Resize(live.pages());

  IndexPageSource source = PageSourceFor(db.pages());
  const Format& format = db.format();
  std::vector<uint8_t> row_bytes;
  std::vector<Value> values;
  for (size_t r = 0; r < def.real_indexes.size(); ++r) {
    const RealIndexDef& index = def.real_indexes[r];
    const std::string name = "index " + std::to_string(r) + " of table at " +
                             "tdef page " + std::to_string(def.first_page);
    ++stats->indexes;
    auto report = [&](uint32_t page, uint32_t offset, std::string what) {
      problems->push_back({page, offset, name + ": " + std::move(what)});
    };
    std::vector<bool> wanted(def.columns.size(), false);
    for (const IndexColumn& ic : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number) wanted[i] = true;
      }
    }
    seen.ClearAll();
    // A row that decoded in the scan but not now (the file changed under
    // us) fails the check rather than passing as index damage.
    Status row_error;
    std::vector<IndexProblem> walk_problems;
    std::vector<uint8_t> prev;
    bool first = true;
    Status walk = WalkIndex(
        source, index.first_page,
        [&](const IndexWalkEntry& e) {
          ++stats->entries;
          std::vector<uint8_t> bytes = e.entry->SortBytes();
          if (!first && !(prev < bytes)) {
            report(e.leaf_page, e.offset, "entry out of key order");
          }
          prev = std::move(bytes);
          first = false;
          const uint32_t page = e.entry->data_page;
          const uint8_t row = e.entry->data_row;
          if (!live.Has(page, row)) {
            report(e.leaf_page, e.offset,
                   "entry points at " + RowName(page, row) +
                       ", which is not a live row");
            return Status::Ok();
          }
          row_error = DecodeIndexedValues(db, def, wanted, page, row,
                                          &row_bytes, &values);
          if (!row_error.ok()) return row_error;
          if (!IndexCoversRow(def, index, values)) {
            report(e.leaf_page, e.offset,
                   "entry for " + RowName(page, row) +
                       ", whose indexed columns are all null, in an index "
                       "that ignores nulls");
          }
          if (seen.TestAndSet(page, row)) {
            report(e.leaf_page, e.offset,
                   "second entry for " + RowName(page, row));
          }
          auto key = EncodeIndexKey(format, def, index, values);
          if (!key.ok()) {
            if (key.status().code() == StatusCode::kNotSupported) {
              ++stats->keys_not_encodable;
            } else {
              report(e.leaf_page, e.offset,
                     "key of " + RowName(page, row) +
                         " cannot be built: " + key.status().ToString());
            }
          } else {
            ++stats->keys_compared;
            if (*key != e.entry->key) {
              report(
                  e.leaf_page, e.offset,
                  "entry key differs from the values of " + RowName(page, row));
            }
          }
          return Status::Ok();
        },
        &walk_problems);
    HVQ_RETURN_IF_ERROR(row_error);
    for (IndexProblem& p : walk_problems) {
      report(p.page, p.offset, std::move(p.what));
    }
    if (!walk.ok()) {
      report(walk.page().value_or(index.first_page), walk.offset().value_or(0),
             "index cannot be walked: " + walk.message());
      continue;
    }
    HVQ_RETURN_IF_ERROR(
        live.ForEachNotIn(seen, [&](uint32_t page, uint8_t row) -> Status {
          // Only an index that ignores nulls may leave a row out; others
          // need no look at the row.
          if (index.ignore_nulls()) {
            HVQ_RETURN_IF_ERROR(DecodeIndexedValues(db, def, wanted, page, row,
                                                    &row_bytes, &values));
            if (!IndexCoversRow(def, index, values)) return Status::Ok();
          }
          report(page, 0, RowName(page, row) + " has no entry in the index");
          return Status::Ok();
        }));
  }
  return Status::Ok();
}

Status CheckAllIndexes(Database& db, std::vector<IndexProblem>* problems,
                       IndexCheckStats* stats) {
  for (const TableInfo& t : db.Tables(/*include_system=*/true)) {
    auto def = db.ReadTableDef(t.tdef_page);
    if (!def.ok()) {
      problems->push_back({t.tdef_page, 0,
                           "table " + t.name + ": definition unreadable: " +
                               def.status().message()});
      continue;
    }
    Status s = CheckTableIndexes(db, *def, problems, stats);
    if (!s.ok()) {
      problems->push_back(
          {s.page().value_or(t.tdef_page), s.offset().value_or(0),
           "table " + t.name + ": rows unreadable: " + s.message()});
    }
  }
  return Status::Ok();
}

}  // namespace hvq::jet
