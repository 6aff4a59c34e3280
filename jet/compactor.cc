// Compaction of a Jet database into a fresh file; see compact.h.
//
// Steps:
//  1. Open the source (password checked), list the tables of the catalog
//     and read their definitions. Each definition gets its pages in the
//     copy (2, 3, ... in source order), which fixes every table's new Id.
//  2. Copy table by table: rows in primary-key order when the key's index
//     names every live row exactly once (checked first), else in scan
//     order. Each row is copied as stored, with object Ids remapped and
//     out-of-row long values stored again; index entries are collected in
//     a sorter per index and written as fresh trees once the table's rows
//     are down.
//  3. Place the usage-map records, write the patched definitions into
//     their reserved pages, then page 1 and page 0.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/byte_order.h"
#include "jet/compact.h"
#include "jet/data_page_builder.h"
#include "jet/database.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/index_walk.h"
#include "jet/long_value.h"
#include "jet/long_value_writer.h"
#include "jet/page_writer.h"
#include "jet/row.h"
#include "jet/streaming_index_writer.h"
#include "jet/table_def_writer.h"
#include "jet/table_scan.h"
#include "jet/usage_map_writer.h"

namespace hvq::jet {
namespace {

// Memory for the entries of one index before they spill to disk.
constexpr size_t kIndexSortBudget = 8u << 20;
// Set in object Ids that name no object but lie in the range of page
// numbers (table Ids are definition pages), moving them above every page a
// file of the format's 2 GB limit can have (2^19 pages).
constexpr uint32_t kDanglingIdBit = 0x00800000;
// Rows between two progress reports.
constexpr uint64_t kProgressEvery = 65536;

// Columns known to hold catalog object Ids (a table's Id is its
// definition page).
struct IdColumn {
  std::string_view table;
  std::string_view column;
};
constexpr IdColumn kIdColumns[] = {
    {"MSysObjects", "Id"},
    {"MSysObjects", "ParentId"},
    {"MSysACEs", "ObjectId"},
    {"MSysNavPaneObjectIDs", "Id"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
};

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Types whose keys index_key always encodes: Boolean and the fixed-size
// types of Jet 3/4 (BigInt is ACE's).
bool AlwaysEncodable(ColumnType t) {
  return t == ColumnType::kBool ||
         (FixedDataSize(t) != 0 && t != ColumnType::kBigInt);
}

struct SourceTable {
  std::string name;  // catalog name ("" when the catalog lacks one)
  TableDef def;
  std::vector<uint8_t> bytes;  // definition bytes, up to its stated end
  uint32_t new_first = 0;
  uint32_t page_count = 0;  // definition pages in the copy
};

// One real index of the table being copied.
struct IndexBuild {
  const RealIndexDef* index = nullptr;
  std::vector<size_t> positions;  // of its columns in def.columns
  bool carry = false;             // keys carried from the source's entries
  bool may_carry = false;         // some column may not be encodable
  bool has_id_column = false;     // keyed on a remapped Id column
  bool id_first = false;          // ... as its first column
  bool id_later = false;          // ... as a later column
  std::unique_ptr<IndexEntrySorter> sorter;
};

// What the copy of one table produced, for its definition.
struct TableOutput {
  uint64_t live_rows = 0;
  bool has_autonumber = false;
  uint32_t max_autonumber = 0;
  std::vector<uint32_t> data_pages;
  std::vector<uint32_t> pages_with_room;
  std::map<uint16_t, std::vector<uint32_t>> lv_pages;  // by column number
  std::vector<uint32_t> index_roots;                   // by real index
  std::vector<std::vector<uint32_t>> index_pages;
  // Usage-map handles (UsageMapRecordSet), filled after the copy.
  size_t owned = 0, free = 0;
  std::vector<std::pair<size_t, size_t>> lv_maps;  // per var_column_usage
  std::vector<size_t> index_maps;
};

class Compactor {
 public:
  Compactor(Database& db, PageWriter& out, const CompactOptions& options,
            CompactStats* stats)
      : db_(db),
        file_(db.pages()),
        f_(db.format()),
        out_(out),
        options_(options),
        stats_(stats),
        records_(
            f_, [this]() { return Allocate(); },
            [this](uint32_t page, Bytes bytes) { return Sink(page, bytes); }) {}

  Status Run();

 private:
  Result<uint32_t> Allocate() {
    if (next_page_ >= kIndexMaxDataPage) {
      return Status::NotSupported("the copy would exceed the page limit");
    }
    return next_page_++;
  }
  Status Sink(uint32_t page, Bytes bytes) {
    return out_.WritePage(page, bytes);
  }

  Status LoadTables();
  Status CopyTable(SourceTable& t, uint32_t number, TableOutput* out);
  Result<std::map<std::string, std::string>> IdKeyPrefixes(const TableDef& def,
                                                           const IndexBuild& b);
  Result<bool> SortByKey(const TableDef& def, const IndexBuild& pk,
                         const std::vector<size_t>& id_positions,
                         IndexEntrySorter* sorter);
  Result<bool> PrimaryKeyOrderHolds(const TableDef& def,
                                    const RealIndexDef& pk);
  Status WriteDefinition(const SourceTable& t, const TableOutput& out,
                         const std::vector<RowPointer>& where);
  // Rewrites the object Ids of `row` (cracked into `slices`) held in the
  // columns at `positions`; returns how many changed.
  uint32_t RemapIds(const std::vector<size_t>& positions,
                    const std::vector<ColumnSlice>& slices,
                    std::vector<uint8_t>* row);
  void Report(uint32_t table) {
    if (options_.progress) {
      options_.progress(
          {table, static_cast<uint32_t>(tables_.size()), stats_->rows});
    }
  }

  Database& db_;
  PageFile& file_;
  const Format& f_;
  PageWriter& out_;
  const CompactOptions& options_;
  CompactStats* stats_;
  UsageMapRecordSet records_;
  uint32_t next_page_ = kGlobalUsageMapPage + 1;
  std::vector<SourceTable> tables_;
  std::map<uint32_t, uint32_t> page_map_;          // old tdef page -> new
  std::unordered_map<uint32_t, uint32_t> id_map_;  // old Id -> new Id
  std::unordered_set<uint32_t> object_ids_;        // every catalog Id
  std::map<uint32_t, uint32_t> dangling_;          // Ids of no object -> new Id
};

Status Compactor::LoadTables() {
  std::map<uint32_t, std::string> names = {{kCatalogTdefPage, ""}};
  for (const CatalogEntry& e : db_.catalog()) {
    if (!e.is_table()) continue;
    auto [it, fresh] = names.emplace(e.tdef_page(), e.name);
    if (!fresh && it->second.empty()) it->second = e.name;
  }
  for (const auto& [page, name] : names) {
    SourceTable t;
    t.name = name;
    std::vector<uint32_t> pages;
    Status st = ReadTableDefBytes(file_, page, &t.bytes, &pages);
    if (st.ok()) {
      auto def = ParseTableDef(f_, page, t.bytes, db_.header().code_page);
      if (def.ok()) {
        t.def = std::move(*def);
        t.def.pages = pages;
      } else {
        st = def.status();
      }
    }
    if (!st.ok()) {
      return st.WithContext("table '" + name + "' (definition page " +
                            std::to_string(page) + ")");
    }
    // The stored length names the definition's end; the parser's end is
    // the floor.
    const size_t stated = size_t{f_.tdef_continuation_header_size} +
                          LoadU32Le(t.bytes.data() + f_.tdef_length_offset);
    const size_t end = std::max<size_t>(t.def.layout.end, stated);
    if (end < t.bytes.size()) t.bytes.resize(end);
    uint32_t counted = 0;
    HVQ_ASSIGN_OR_RETURN(
        std::vector<TableDefPage> split,
        BuildTableDefPages(f_, t.bytes, 0,
                           [&]() -> Result<uint32_t> { return ++counted; }));
    t.page_count = static_cast<uint32_t>(split.size());
    tables_.push_back(std::move(t));
  }
  // The catalog's definition stays on page 2 (it sorts first).
  for (SourceTable& t : tables_) {
    t.new_first = next_page_;
    next_page_ += t.page_count;
    page_map_[t.def.first_page] = t.new_first;
    if (t.new_first != t.def.first_page) ++stats_->tables_renumbered;
  }
  for (const CatalogEntry& e : db_.catalog()) {
    object_ids_.insert(static_cast<uint32_t>(e.id));
    if (!e.is_table()) continue;
    const uint32_t old_id = static_cast<uint32_t>(e.id);
    id_map_[old_id] = (old_id & 0xFF000000u) | page_map_.at(e.tdef_page());
  }
  return Status::Ok();
}

// True when walking `pk` yields every live row of the table exactly once
// (so the rows can be written in its order).
// Fails only when the table's rows cannot be scanned.
Result<bool> Compactor::PrimaryKeyOrderHolds(const TableDef& def,
                                             const RealIndexDef& pk) {
  std::vector<bool> listed(size_t{file_.page_count()} * 256, false);
  uint64_t live = 0;
  HVQ_RETURN_IF_ERROR(ScanTable(file_, def, [&](const RowLocation& loc, Bytes) {
    listed[size_t{loc.page} * 256 + loc.row] = true;
    ++live;
    return true;
  }));
  uint64_t entries = 0;
  bool holds = true;
  Status st = WalkIndex(PageSourceFor(file_), pk.first_page,
                        [&](const IndexWalkEntry& w) -> Status {
                          const size_t slot = size_t{w.entry->data_page} * 256 +
                                              w.entry->data_row;
                          if (slot >= listed.size() || !listed[slot]) {
                            holds = false;
                            return Status::Internal("walk stopped");
                          }
                          listed[slot] = false;
                          ++entries;
                          return Status::Ok();
                        });
  // A damaged key index only costs the order: the rows are scanned and
  // the index is rebuilt like any other.
  return holds && st.ok() && entries == live;
}

// For an index whose keys are carried and whose first column holds object
// Ids: the key bytes of each renumbered Id, old -> new. Ids in a later
// column sit after bytes of unknown length, so such an index is refused.
// Key bytes are held in strings.
Result<std::map<std::string, std::string>> Compactor::IdKeyPrefixes(
    const TableDef& def, const IndexBuild& b) {
  const std::string which =
      "an index of table at page " + std::to_string(def.first_page);
  if (!b.id_first || b.id_later) {
    return Status::NotSupported(which +
                                " is keyed on renumbered Ids after other "
                                "columns and cannot be regenerated");
  }
  HVQ_ASSIGN_OR_RETURN(std::vector<KeyColumnSpec> specs,
                       KeySpecsFor(f_, def, *b.index));
  std::map<std::string, std::string> out;
  std::map<uint32_t, uint32_t> changes(dangling_.begin(), dangling_.end());
  for (const auto& [from, to] : id_map_) changes[from] = to;
  for (const auto& [from, to] : changes) {
    if (from == to) continue;
    std::vector<uint8_t> ka, kz;
    HVQ_RETURN_IF_ERROR(
        AppendColumnKey(specs[0], Value::Int(static_cast<int32_t>(from)), &ka));
    HVQ_RETURN_IF_ERROR(
        AppendColumnKey(specs[0], Value::Int(static_cast<int32_t>(to)), &kz));
    out[std::string(ka.begin(), ka.end())] = std::string(kz.begin(), kz.end());
  }
  return out;
}

uint32_t Compactor::RemapIds(const std::vector<size_t>& positions,
                             const std::vector<ColumnSlice>& slices,
                             std::vector<uint8_t>* row) {
  uint32_t changed = 0;
  for (size_t pos : positions) {
    const ColumnSlice& s = slices[pos];
    if (!s.present || s.data.size() != 4) continue;
    const uint32_t id = LoadU32Le(s.data.data());
    uint32_t now = id;
    if (auto it = id_map_.find(id); it != id_map_.end()) {
      now = it->second;
    } else if (id != 0 && id < kDanglingIdBit && !object_ids_.count(id)) {
      // A page-range Id no object has (left behind by a deleted table):
      // it must not come to name whichever table now sits on that page.
      now = id | kDanglingIdBit;
      dangling_[id] = now;
    }
    if (now == id) continue;
    StoreU32Le(row->data() + (s.data.data() - row->data()), now);
    ++changed;
  }
  return changed;
}

// Adds every live row of the table to `sorter` under its key in `pk`
// (rows the index leaves out, under a key below every other), listed at
// the slot that lists the row. False when some key cannot be regenerated.
Result<bool> Compactor::SortByKey(const TableDef& def, const IndexBuild& pk,
                                  const std::vector<size_t>& id_positions,
                                  IndexEntrySorter* sorter) {
  const uint16_t code_page = db_.header().code_page;
  std::vector<Value> values(def.columns.size());
  std::vector<uint8_t> row;
  bool encodable = true;
  Status error;
  HVQ_RETURN_IF_ERROR(
      ScanTable(file_, def, [&](const RowLocation& loc, Bytes stored) {
        row.assign(stored.begin(), stored.end());
        auto slices = CrackRow(f_, def, row, loc.data_page, 0);
        if (!slices.ok()) {
          error = slices.status();
          return false;
        }
        RemapIds(id_positions, *slices, &row);
        for (size_t pos : pk.positions) {
          auto v = DecodeSlice(file_, (*slices)[pos], code_page);
          if (!v.ok()) {
            if (v.status().code() == StatusCode::kNotSupported) {
              encodable = false;
            } else {
              error = v.status();
            }
            return false;
          }
          values[pos] = std::move(*v);
        }
        std::vector<uint8_t> key = {0x00};
        if (IndexCoversRow(def, *pk.index, values)) {
          auto k = EncodeIndexKey(f_, def, *pk.index, values);
          if (!k.ok()) {
            if (k.status().code() == StatusCode::kNotSupported) {
              encodable = false;
            } else {
              error = k.status();
            }
            return false;
          }
          key = std::move(*k);
        }
        error = sorter->Add(key, loc.page, loc.row);
        return error.ok();
      }));
  HVQ_RETURN_IF_ERROR(error);
  return encodable;
}

Status Compactor::CopyTable(SourceTable& t, uint32_t number, TableOutput* out) {
  const TableDef& def = t.def;
  const uint16_t code_page = db_.header().code_page;
  Report(number);

  // Columns holding object Ids.
  std::vector<size_t> id_positions;
  for (const IdColumn& ic : kIdColumns) {
    if (!SameName(ic.table, t.name)) continue;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const ColumnDef& c = def.columns[i];
      if (c.type == ColumnType::kLong && SameName(c.name, ic.column)) {
        id_positions.push_back(i);
      }
    }
  }

  // Index plans.
  std::vector<IndexBuild> builds(def.real_indexes.size());
  bool any_may_carry = false;
  for (size_t k = 0; k < def.real_indexes.size(); ++k) {
    IndexBuild& b = builds[k];
    b.index = &def.real_indexes[k];
    for (const IndexColumn& ic : b.index->columns) {
      size_t pos = def.columns.size();
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number) pos = i;
      }
      if (pos == def.columns.size()) {
        return Status::Corruption("index " + std::to_string(k) +
                                      " names missing column " +
                                      std::to_string(ic.column_number),
                                  def.first_page, def.layout.real_indexes);
      }
      b.positions.push_back(pos);
      if (!AlwaysEncodable(def.columns[pos].type)) b.may_carry = true;
      if (std::find(id_positions.begin(), id_positions.end(), pos) !=
          id_positions.end()) {
        (b.positions.size() == 1 ? b.id_first : b.id_later) = true;
        b.has_id_column = true;
      }
    }
    auto specs = KeySpecsFor(f_, def, *b.index);
    if (!specs.ok()) {
      b.carry = true;
    } else {
      for (const KeyColumnSpec& s : *specs) {
        if ((s.type == ColumnType::kText || s.type == ColumnType::kMemo) &&
            CollationFor(s) == TextCollation::kUnsupported) {
          b.carry = true;
        }
      }
    }
    b.may_carry = b.may_carry || b.carry;
    any_may_carry = any_may_carry || b.may_carry;
    b.sorter = std::make_unique<IndexEntrySorter>(kIndexSortBudget);
  }

  // Row order.
  const RealIndexDef* pk = nullptr;
  for (const LogicalIndexDef& li : def.logical_indexes) {
    if (li.is_primary() && li.real_index < def.real_indexes.size()) {
      pk = &def.real_indexes[li.real_index];
    }
  }
  // Preferably by the key regenerated from each row (Ids already
  // renumbered), so the order holds whatever state the source's index is
  // in; else by walking the source's index where it lists every live row
  // once; else in scan order.
  enum class Order { kScan, kRegeneratedKey, kSourceIndex };
  Order order = Order::kScan;
  std::unique_ptr<IndexEntrySorter> key_order;
  if (pk != nullptr) {
    const IndexBuild& pkb =
        builds[static_cast<size_t>(pk - def.real_indexes.data())];
    if (!pkb.carry) {
      key_order = std::make_unique<IndexEntrySorter>(kIndexSortBudget);
      HVQ_ASSIGN_OR_RETURN(bool sorted,
                           SortByKey(def, pkb, id_positions, key_order.get()));
      if (sorted) order = Order::kRegeneratedKey;
    }
    if (order == Order::kScan && pk->first_page != 0) {
      HVQ_ASSIGN_OR_RETURN(bool holds, PrimaryKeyOrderHolds(def, *pk));
      if (holds) order = Order::kSourceIndex;
    }
  }

  const ColumnDef* autonumber = nullptr;
  for (const ColumnDef& c : def.columns) {
    if (c.is_autonumber() && c.type == ColumnType::kLong) autonumber = &c;
  }
  out->has_autonumber = autonumber != nullptr;

  // Long-value writers, one per memo/OLE column.
  std::map<uint16_t, std::unique_ptr<LongValueWriter>> lv_writers;
  for (const ColumnDef& c : def.columns) {
    if (!c.is_long_value()) continue;
    lv_writers[c.number] = std::make_unique<LongValueWriter>(
        f_, [this]() { return Allocate(); },
        [this](uint32_t page, Bytes bytes) { return Sink(page, bytes); });
  }

  std::unique_ptr<DataPageBuilder> page;
  uint32_t page_no = 0;
  auto flush_page = [&]() -> Status {
    if (page == nullptr) return Status::Ok();
    if (page->Room() >= f_.page_size / 4) {
      out->pages_with_room.push_back(page_no);
    }
    HVQ_RETURN_IF_ERROR(Sink(page_no, page->Build()));
    page.reset();
    return Status::Ok();
  };

  // Old row pointer (the slot listing the row) -> new, for carried keys.
  std::vector<std::pair<uint32_t, uint32_t>> moved;
  bool ids_changed_in_table = false;
  std::vector<Value> values(def.columns.size());
  std::vector<uint8_t> row;

  auto emit = [&](const RowLocation& loc, Bytes stored) -> Status {
    row.assign(stored.begin(), stored.end());
    if (loc.page != loc.data_page || loc.row != loc.data_row) {
      ++stats_->overflow_rows_resolved;
    }
    HVQ_ASSIGN_OR_RETURN(std::vector<ColumnSlice> slices,
                         CrackRow(f_, def, row, loc.data_page, 0));
    auto offset_of = [&](const ColumnSlice& s) {
      return static_cast<size_t>(s.data.data() - row.data());
    };
    if (const uint32_t n = RemapIds(id_positions, slices, &row); n != 0) {
      stats_->ids_rewritten += n;
      ids_changed_in_table = true;
    }
    // Index values, read before long-value references change.
    for (IndexBuild& b : builds) {
      if (b.carry) continue;
      for (size_t pos : b.positions) {
        auto v = DecodeSlice(file_, slices[pos], code_page);
        if (!v.ok()) {
          if (v.status().code() != StatusCode::kNotSupported) {
            return v.status();
          }
          b.carry = true;
          break;
        }
        values[pos] = std::move(*v);
      }
    }
    if (autonumber != nullptr) {
      for (const ColumnSlice& s : slices) {
        if (s.column != autonumber || !s.present || s.data.size() != 4) {
          continue;
        }
        const int32_t v = static_cast<int32_t>(LoadU32Le(s.data.data()));
        if (v > 0) {
          out->max_autonumber =
              std::max(out->max_autonumber, static_cast<uint32_t>(v));
        }
      }
    }
    // Long values stored outside the row go to fresh LVAL pages; the
    // reference keeps its size (only kind and pointer may change).
    for (const ColumnSlice& s : slices) {
      if (!s.present || !s.column->is_long_value()) continue;
      HVQ_ASSIGN_OR_RETURN(LongValueRef ref, ParseLongValueRef(s.data));
      if (ref.kind == LongValueKind::kInline) continue;
      uint8_t* at = row.data() + offset_of(s);
      if (ref.length == 0) {
        // Nothing to point at: an empty chain.
        StoreU32Le(at, 0);
        StoreU32Le(at + 4, 0);
        continue;
      }
      HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> data,
                           ReadLongValue(file_, s.data));
      LongValueWriter& w = *lv_writers.at(s.column->number);
      const LongValueStorage storage = data.size() <= w.MaxRowBytes()
                                           ? LongValueStorage::kSinglePage
                                           : LongValueStorage::kChain;
      HVQ_ASSIGN_OR_RETURN(RowField field, w.Store(data, storage));
      std::copy(field.data.begin(), field.data.begin() + 8, at);
      ++stats_->long_values_rewritten;
    }

    if (page == nullptr || !page->Fits(row.size())) {
      HVQ_RETURN_IF_ERROR(flush_page());
      HVQ_ASSIGN_OR_RETURN(page_no, Allocate());
      page = std::make_unique<DataPageBuilder>(f_, t.new_first);
      out->data_pages.push_back(page_no);
      if (!page->Fits(row.size())) {
        return Status::Corruption(
            "row of " + std::to_string(row.size()) + " bytes fits no page",
            loc.data_page, 0);
      }
    }
    HVQ_ASSIGN_OR_RETURN(uint8_t new_row, page->AddRow(row));
    const RowPointer now{page_no, new_row};
    if (any_may_carry) {
      moved.emplace_back(RowPointer{loc.page, loc.row}.ToU32(), now.ToU32());
    }
    for (IndexBuild& b : builds) {
      if (b.carry) continue;
      if (!IndexCoversRow(def, *b.index, values)) continue;
      auto key = EncodeIndexKey(f_, def, *b.index, values);
      if (!key.ok()) {
        if (key.status().code() != StatusCode::kNotSupported) {
          return key.status();
        }
        b.carry = true;
        continue;
      }
      HVQ_RETURN_IF_ERROR(b.sorter->Add(*key, now.page, now.row));
    }
    ++out->live_rows;
    if (++stats_->rows % kProgressEvery == 0) Report(number);
    return Status::Ok();
  };

  Status row_error;
  std::vector<uint8_t> bytes;
  if (order == Order::kRegeneratedKey) {
    ++stats_->tables_in_key_order;
    HVQ_RETURN_IF_ERROR(key_order->Drain([&](const IndexEntry& e) -> Status {
      RowLocation loc;
      HVQ_RETURN_IF_ERROR(
          ResolveRow(file_, e.data_page, e.data_row, &loc, &bytes));
      return emit(loc, bytes);
    }));
    key_order.reset();
  } else if (order == Order::kSourceIndex) {
    ++stats_->tables_in_key_order;
    HVQ_RETURN_IF_ERROR(WalkIndex(PageSourceFor(file_), pk->first_page,
                                  [&](const IndexWalkEntry& w) -> Status {
                                    RowLocation loc;
                                    HVQ_RETURN_IF_ERROR(ResolveRow(
                                        file_, w.entry->data_page,
                                        w.entry->data_row, &loc, &bytes));
                                    return emit(loc, bytes);
                                  }));
  } else {
    HVQ_RETURN_IF_ERROR(
        ScanTable(file_, def, [&](const RowLocation& loc, Bytes bytes) {
          row_error = emit(loc, bytes);
          return row_error.ok();
        }));
    HVQ_RETURN_IF_ERROR(row_error);
  }
  HVQ_RETURN_IF_ERROR(flush_page());
  for (auto& [number_of_column, w] : lv_writers) {
    HVQ_RETURN_IF_ERROR(w->Flush());
    out->lv_pages[number_of_column] = w->pages();
  }

  // Carried keys: the source's entries of live rows, with new pointers.
  std::sort(moved.begin(), moved.end());
  for (size_t k = 0; k < builds.size(); ++k) {
    IndexBuild& b = builds[k];
    if (!b.carry) {
      ++stats_->indexes_rebuilt;
      continue;
    }
    ++stats_->indexes_carried;
    const std::string which_index =
        "index " + std::to_string(k) + " of table '" + t.name + "'";
    const std::string& which = which_index;
    if (!any_may_carry) {
      return Status::NotSupported(which + ": a key could not be regenerated");
    }
    // Keys that start with a renumbered Id get the new Id's bytes.
    std::map<std::string, std::string> id_prefixes;
    if (b.has_id_column && ids_changed_in_table) {
      HVQ_ASSIGN_OR_RETURN(id_prefixes, IdKeyPrefixes(def, b));
    }
    b.sorter = std::make_unique<IndexEntrySorter>(kIndexSortBudget);
    std::vector<bool> seen(moved.size(), false);
    uint64_t entries = 0;
    if (b.index->first_page != 0) {
      HVQ_RETURN_IF_ERROR(WalkIndex(
          PageSourceFor(file_), b.index->first_page,
          [&](const IndexWalkEntry& w) -> Status {
            const uint32_t old =
                RowPointer{w.entry->data_page, w.entry->data_row}.ToU32();
            auto it = std::lower_bound(moved.begin(), moved.end(),
                                       std::make_pair(old, uint32_t{0}));
            if (it == moved.end() || it->first != old) {
              return Status::Ok();  // an entry of a deleted row
            }
            const size_t at = static_cast<size_t>(it - moved.begin());
            if (seen[at]) {
              return Status::Corruption(which + " lists a row twice",
                                        w.leaf_page, w.offset);
            }
            seen[at] = true;
            ++entries;
            const RowPointer now = RowPointer::FromU32(it->second);
            if (!id_prefixes.empty()) {
              std::vector<uint8_t> key = w.entry->key;
              const size_t n = id_prefixes.begin()->first.size();
              if (key.size() >= n) {
                auto p =
                    id_prefixes.find(std::string(key.begin(), key.begin() + n));
                if (p != id_prefixes.end()) {
                  std::copy(p->second.begin(), p->second.end(), key.begin());
                }
              }
              return b.sorter->Add(key, now.page, now.row);
            }
            return b.sorter->Add(w.entry->key, now.page, now.row);
          }));
    }
    if (entries != out->live_rows && !b.index->ignore_nulls()) {
      return Status::Corruption(which + " names " + std::to_string(entries) +
                                    " of " + std::to_string(out->live_rows) +
                                    " rows and its keys cannot be regenerated",
                                b.index->first_page, 0);
    }
  }

  for (IndexBuild& b : builds) {
    StreamingIndexWriter writer(
        f_, t.new_first, [this]() { return Allocate(); },
        [this](uint32_t p, Bytes bytes) { return Sink(p, bytes); });
    HVQ_RETURN_IF_ERROR(
        b.sorter->Drain([&](const IndexEntry& e) { return writer.Add(e); }));
    HVQ_ASSIGN_OR_RETURN(uint32_t root, writer.Finish());
    out->index_roots.push_back(root);
    out->index_pages.push_back(writer.pages());
    b.sorter.reset();
  }

  // Usage maps.
  HVQ_ASSIGN_OR_RETURN(out->owned, records_.Add(out->data_pages));
  HVQ_ASSIGN_OR_RETURN(out->free, records_.Add(out->pages_with_room));
  for (const VarColumnUsage& u : def.var_column_usage) {
    auto it = out->lv_pages.find(u.column_number);
    std::vector<uint32_t> used, last;
    if (it != out->lv_pages.end() && !it->second.empty()) {
      used = it->second;
      last.push_back(it->second.back());
    }
    HVQ_ASSIGN_OR_RETURN(size_t used_map, records_.Add(used));
    HVQ_ASSIGN_OR_RETURN(size_t free_map, records_.Add(last));
    out->lv_maps.emplace_back(used_map, free_map);
  }
  for (const auto& pages : out->index_pages) {
    HVQ_ASSIGN_OR_RETURN(size_t m, records_.Add(pages));
    out->index_maps.push_back(m);
  }
  return Status::Ok();
}

Status Compactor::WriteDefinition(const SourceTable& t, const TableOutput& o,
                                  const std::vector<RowPointer>& where) {
  const TableDef& def = t.def;
  std::vector<uint8_t> bytes = t.bytes;
  auto put = [&](size_t offset, uint32_t value) -> Status {
    if (offset + 4 > bytes.size()) {
      return Status::Corruption("table definition field past its end",
                                def.first_page, static_cast<uint32_t>(offset));
    }
    StoreU32Le(bytes.data() + offset, value);
    return Status::Ok();
  };
  if (o.live_rows != def.row_count) ++stats_->row_counts_corrected;
  HVQ_RETURN_IF_ERROR(
      put(f_.tdef_row_count_offset, static_cast<uint32_t>(o.live_rows)));
  if (o.has_autonumber && o.max_autonumber != def.next_autonumber) {
    ++stats_->autonumber_seeds_reset;
    HVQ_RETURN_IF_ERROR(put(f_.tdef_autonumber_offset, o.max_autonumber));
  }
  if (def.owned_pages.page != 0) {
    HVQ_RETURN_IF_ERROR(
        put(f_.tdef_owned_pages_offset, where[o.owned].ToU32()));
  }
  if (def.free_pages.page != 0) {
    HVQ_RETURN_IF_ERROR(put(f_.tdef_free_pages_offset, where[o.free].ToU32()));
  }
  for (size_t k = 0; k < def.real_indexes.size(); ++k) {
    const size_t at = def.layout.real_indexes + k * f_.real_index_entry_size;
    HVQ_RETURN_IF_ERROR(
        put(at + f_.real_index_first_page_offset, o.index_roots[k]));
    if (def.real_indexes[k].usage_map.page != 0) {
      HVQ_RETURN_IF_ERROR(put(at + f_.real_index_usage_map_offset,
                              where[o.index_maps[k]].ToU32()));
    }
  }
  for (size_t k = 0; k < def.logical_indexes.size(); ++k) {
    const uint32_t rel = def.logical_indexes[k].related_table_page;
    auto it = page_map_.find(rel);
    if (rel == 0 || it == page_map_.end()) continue;
    const size_t at =
        def.layout.logical_indexes + k * f_.logical_index_entry_size;
    HVQ_RETURN_IF_ERROR(
        put(at + f_.logical_index_rel_table_page_offset, it->second));
  }
  for (size_t k = 0; k < def.var_column_usage.size(); ++k) {
    const VarColumnUsage& u = def.var_column_usage[k];
    const size_t at =
        def.layout.var_column_usage + k * f_.var_column_usage_entry_size;
    if (u.used_pages.page != 0) {
      HVQ_RETURN_IF_ERROR(put(at + 2, where[o.lv_maps[k].first].ToU32()));
    }
    if (u.free_pages.page != 0) {
      HVQ_RETURN_IF_ERROR(put(at + 6, where[o.lv_maps[k].second].ToU32()));
    }
  }
  uint32_t next = t.new_first;
  const uint32_t last = t.new_first + t.page_count - 1;
  HVQ_ASSIGN_OR_RETURN(
      std::vector<TableDefPage> pages,
      BuildTableDefPages(
          f_, std::move(bytes), t.new_first, [&]() -> Result<uint32_t> {
            if (next >= last) {
              return Status::Internal("table definition outgrew its pages");
            }
            return ++next;
          }));
  for (const TableDefPage& p : pages) {
    HVQ_RETURN_IF_ERROR(Sink(p.page_number, p.bytes));
  }
  return Status::Ok();
}

Status Compactor::Run() {
  HVQ_RETURN_IF_ERROR(LoadTables());
  std::vector<TableOutput> outputs(tables_.size());
  for (size_t i = 0; i < tables_.size(); ++i) {
    Status st =
        CopyTable(tables_[i], static_cast<uint32_t>(i + 1), &outputs[i]);
    if (!st.ok()) {
      return st.WithContext("table '" + tables_[i].name + "'");
    }
  }
  HVQ_ASSIGN_OR_RETURN(std::vector<RowPointer> where, records_.Place());
  for (size_t i = 0; i < tables_.size(); ++i) {
    HVQ_RETURN_IF_ERROR(WriteDefinition(tables_[i], outputs[i], where));
  }
  HVQ_RETURN_IF_ERROR(WriteGlobalUsageMap(
      f_, [this]() { return next_page_; }, [this]() { return Allocate(); }, {},
      [this](uint32_t page, Bytes bytes) { return Sink(page, bytes); }));
  stats_->source_pages = file_.page_count();
  stats_->output_pages = next_page_;
  stats_->tables = static_cast<uint32_t>(tables_.size());
  return Status::Ok();
}

// A non-zero database key for a copy that is to be encrypted.
uint32_t FreshDatabaseKey() {
  std::random_device rd;
  uint32_t key = 0;
  while (key == 0) key = rd();
  return key;
}

}  // namespace

Status CompactDatabase(const CompactOptions& options, int output_fd,
                       CompactStats* stats_out) {
  CompactStats stats;
  OpenOptions open;
  open.password = options.password;
  auto opened = Database::Open(options.source_path, open);
  if (!opened.ok()) {
    const Status& st = opened.status();
    if (st.code() == StatusCode::kPermissionDenied) {
      return Status::PermissionDenied("wrong password for " +
                                      options.source_path);
    }
    return st.WithContext(options.source_path);
  }
  Database& db = **opened;
  PageFile& file = db.pages();
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> header_page,
                       file.ReadRawHeaderPage());
  uint32_t key = db.header().database_key;
  if (options.encrypt && key == 0) {
    Header h = db.header();
    h.database_key = FreshDatabaseKey();
    HVQ_RETURN_IF_ERROR(EncodeHeader(h, header_page));
    key = h.database_key;
  }
  HVQ_ASSIGN_OR_RETURN(std::unique_ptr<PageWriter> writer,
                       PageWriter::ForFd(output_fd, db.format(), key));
  Compactor compactor(db, *writer, options, &stats);
  HVQ_RETURN_IF_ERROR(compactor.Run());
  HVQ_RETURN_IF_ERROR(writer->WritePage(0, header_page));
  HVQ_RETURN_IF_ERROR(writer->Finish());
  if (stats_out != nullptr) *stats_out = stats;
  return Status::Ok();
}

}  // namespace hvq::jet
