// Compaction of a Jet database into a fresh file; see compact.h.
//
// Pages keep their numbers unless the plan moves them, so most references
// in the file (catalog Ids, long-value and overflow pointers) stay valid
// without rewriting. Steps:
//  1. Survey: open the source, check the password, read every table of the
//     catalog: its definition pages, usage-map records, every index tree,
//     every live row (overflow rows followed) and every long value. Any read
//     error ends the compaction. The survey marks the pages the structure
//     uses and counts live rows and the largest AutoNumber values.
//  2. Plan: pages nothing reaches become free; live long values are
//     stored again in fresh dense LVAL pages (row references patched in
//     place, same size); overflow rows that fit their home page come home;
//     table data pages move down into free pages where every reference can be
//     rewritten; each index tree with an inline usage map is rebuilt from
//     its live entries (row pointers of moved pages rewritten) into its own
//     pages, root kept in place; usage maps are rewritten to match.
//  3. Write: page 0 as stored; new LVAL pages; rebuilt index pages; each data
//  page repacked
//     (deleted rows' bytes dropped, live rows back to back, row numbers
//     kept, planned row edits applied) at its new place; pages that are
//     free are written empty; pages after the last used one are left out.
//     Table definitions get live row counts and AutoNumber seeds. Encrypted
//     sources are re-encrypted with their key.
#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "jet/compact.h"
#include "jet/compactor_pages.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/index_page.h"
#include "jet/index_walk.h"
#include "jet/long_value.h"
#include "jet/long_value_writer.h"
#include "jet/page_writer.h"
#include "jet/row.h"
#include "jet/table_scan.h"
#include "jet/usage_map.h"

namespace hvq::jet {
namespace {

struct TablePatch {
  uint32_t live_rows = 0;
  uint32_t stored_rows = 0;
  bool has_autonumber = false;
  uint32_t max_autonumber = 0;  // largest live value, 0 when none
  uint32_t stored_autonumber = 0;
};

// A row stored away from the slot that lists it.
struct Overflow {
  uint32_t home_page = 0;
  uint8_t home_row = 0;
  uint32_t target_page = 0;
  uint8_t target_row = 0;
};

struct Survey {
  std::vector<bool> used;          // by page number
  std::vector<bool> holds_record;  // pages holding usage-map records
  std::vector<Overflow> overflows;
  std::map<uint32_t, TablePatch> tables;  // by tdef page
  uint32_t tables_read = 0;

  void Use(uint32_t page) {
    if (page < used.size()) used[page] = true;
  }
};

// Marks the page holding a usage-map record and, for reference maps, the
// map pages it names.
Status UseUsageMap(PageFile& file, RowPointer ptr, Survey* survey) {
  if (ptr.page == 0) return Status::Ok();
  survey->Use(ptr.page);
  if (ptr.page < survey->holds_record.size()) {
    survey->holds_record[ptr.page] = true;
  }
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> rec, ReadUsageMapRecord(file, ptr));
  // Decoding also checks the map pages for damage.
  HVQ_RETURN_IF_ERROR(DecodeUsageMap(file, rec, ptr).status());
  if (!rec.empty() && rec[0] == kUsageMapReference) {
    for (size_t off = 1; off + 4 <= rec.size(); off += 4) {
      survey->Use(LoadU32Le(rec.data() + off));
    }
  }
  return Status::Ok();
}

Status SurveyTable(Database& db, uint32_t tdef_page, Survey* survey) {
  PageFile& file = db.pages();
  HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(tdef_page));
  for (uint32_t p : def.pages) survey->Use(p);
  HVQ_RETURN_IF_ERROR(UseUsageMap(file, def.owned_pages, survey));
  HVQ_RETURN_IF_ERROR(UseUsageMap(file, def.free_pages, survey));
  for (const VarColumnUsage& u : def.var_column_usage) {
    HVQ_RETURN_IF_ERROR(UseUsageMap(file, u.used_pages, survey));
    HVQ_RETURN_IF_ERROR(UseUsageMap(file, u.free_pages, survey));
  }
  HVQ_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, OwnedPages(file, def));
  for (uint32_t p : owned) survey->Use(p);

  const IndexPageSource source = PageSourceFor(file);
  for (const RealIndexDef& index : def.real_indexes) {
    HVQ_RETURN_IF_ERROR(UseUsageMap(file, index.usage_map, survey));
    if (index.first_page == 0) continue;
    IndexWalkStats stats;
    HVQ_RETURN_IF_ERROR(WalkIndex(
        source, index.first_page,
        [](const IndexWalkEntry&) { return Status::Ok(); }, nullptr, &stats));
    for (uint32_t p : stats.pages) survey->Use(p);
  }

  TablePatch patch;
  patch.stored_rows = def.row_count;
  patch.stored_autonumber = def.next_autonumber;
  const ColumnDef* autonumber = nullptr;
  for (const ColumnDef& c : def.columns) {
    if (c.is_autonumber() && c.type == ColumnType::kLong) autonumber = &c;
  }
  patch.has_autonumber = autonumber != nullptr;
  Status row_error;
  HVQ_RETURN_IF_ERROR(
      ScanTable(file, def, [&](const RowLocation& loc, Bytes row) {
        survey->Use(loc.page);
        survey->Use(loc.data_page);
        ++patch.live_rows;
        if (loc.page != loc.data_page || loc.row != loc.data_row) {
          survey->overflows.push_back(
              {loc.page, loc.row, loc.data_page, loc.data_row});
        }
        auto slices = CrackRow(file.format(), def, row, loc.data_page, 0);
        if (!slices.ok()) {
          row_error = slices.status();
          return false;
        }
        for (const ColumnSlice& s : *slices) {
          if (!s.present) continue;
          if (s.column->is_long_value()) {
            auto rows = LongValueRows(file, s.data);
            if (!rows.ok()) {
              row_error =
                  rows.status().WithContext("column '" + s.column->name + "'");
              return false;
            }
            for (const RowPointer& r : *rows) survey->Use(r.page);
          } else if (s.column == autonumber && s.data.size() == 4) {
            const int32_t v = static_cast<int32_t>(LoadU32Le(s.data.data()));
            if (v > 0) {
              patch.max_autonumber =
                  std::max(patch.max_autonumber, static_cast<uint32_t>(v));
            }
          }
        }
        return true;
      }));
  HVQ_RETURN_IF_ERROR(row_error);
  survey->tables[def.first_page] = patch;
  ++survey->tables_read;
  return Status::Ok();
}

Result<Survey> SurveyDatabase(Database& db) {
  Survey survey;
  survey.used.assign(db.pages().page_count(), false);
  survey.holds_record.assign(db.pages().page_count(), false);
  survey.Use(0);
  survey.Use(kGlobalUsageMapPage);
  std::vector<uint32_t> tdefs = {kCatalogTdefPage};
  for (const CatalogEntry& e : db.catalog()) {
    if (e.is_table()) tdefs.push_back(e.tdef_page());
  }
  std::sort(tdefs.begin(), tdefs.end());
  tdefs.erase(std::unique(tdefs.begin(), tdefs.end()), tdefs.end());
  for (uint32_t tdef : tdefs) {
    Status st = SurveyTable(db, tdef, &survey);
    if (!st.ok()) {
      return st.WithContext("table at page " + std::to_string(tdef));
    }
  }
  return survey;
}

// A long-value reference in a row to overwrite: the 8 bytes of length, kind
// and row pointer at `offset` within row `row` of a data page.
struct LongValuePatch {
  uint8_t row = 0;
  uint32_t offset = 0;
  std::array<uint8_t, 8> ref{};
};

// Every live memo/OLE value stored outside its row, written again into
// fresh, densely packed LVAL pages (one writer per column, so each column's
// usage maps name only its own pages). The pages come from the free pages
// and the old LVAL pages, lowest first; old LVAL pages not reused become
// free. Rows keep their size: only the reference's kind and pointer change.
struct LongValuePlan {
  std::map<uint32_t, std::vector<LongValuePatch>> patches;  // by data page
  std::map<uint32_t, std::vector<uint8_t>> pages;           // new LVAL pages
  std::vector<uint32_t> freed;
  std::vector<uint32_t> taken;
  std::map<uint32_t, std::vector<RowEdit>> edits;  // usage-map records
  uint32_t values = 0;
};

// Applies the patches of row `row` of `page_number` to `row_bytes`.
void ApplyLongValuePatches(const LongValuePlan& plan, uint32_t page_number,
                           uint8_t row, std::vector<uint8_t>* row_bytes) {
  auto it = plan.patches.find(page_number);
  if (it == plan.patches.end()) return;
  for (const LongValuePatch& p : it->second) {
    if (p.row != row || p.offset + p.ref.size() > row_bytes->size()) continue;
    std::copy(p.ref.begin(), p.ref.end(), row_bytes->begin() + p.offset);
  }
}

// Row edits that bring overflow rows home: the pointer slot receives the
// row, the slot that held it is deleted. Only direct pointers to a target
// row are resolved, and only where the home page has room once repacked.
struct OverflowPlan {
  std::map<uint32_t, std::vector<RowEdit>> edits;  // by page
  uint32_t resolved = 0;
  std::set<std::pair<uint32_t, uint8_t>> resolved_homes;
};

Result<OverflowPlan> PlanOverflowMoves(PageFile& file, const Survey& survey,
                                       const LongValuePlan& lv_plan) {
  const Format& f = file.format();
  std::map<uint32_t, std::vector<Overflow>> by_home;
  for (const Overflow& o : survey.overflows) by_home[o.home_page].push_back(o);
  OverflowPlan plan;
  for (const auto& [home, list] : by_home) {
    HVQ_ASSIGN_OR_RETURN(PageRef home_page, file.GetPage(home));
    HVQ_ASSIGN_OR_RETURN(uint32_t free,
                         FreeSpaceAfterRepack(f, home, *home_page));
    HVQ_ASSIGN_OR_RETURN(DataPage home_dp, ParseDataPage(f, home, *home_page));
    for (const Overflow& o : list) {
      HVQ_ASSIGN_OR_RETURN(Bytes pointer,
                           home_dp.RowBytes(*home_page, o.home_row));
      if (pointer.size() < 4 || pointer[0] != o.target_row ||
          LoadU24Le(pointer.data() + 1) != o.target_page) {
        continue;  // a chain of pointers: left as it is
      }
      HVQ_ASSIGN_OR_RETURN(PageRef target_page, file.GetPage(o.target_page));
      HVQ_ASSIGN_OR_RETURN(DataPage target_dp,
                           ParseDataPage(f, o.target_page, *target_page));
      if (o.target_row >= target_dp.rows.size() ||
          !target_dp.rows[o.target_row].overflow_target() ||
          target_dp.rows[o.target_row].overflow_pointer()) {
        continue;
      }
      HVQ_ASSIGN_OR_RETURN(Bytes row,
                           target_dp.RowBytes(*target_page, o.target_row));
      const uint32_t need =
          row.size() > pointer.size()
              ? static_cast<uint32_t>(row.size() - pointer.size())
              : 0;
      if (need > free) continue;
      free -= need;
      RowEdit replace;
      replace.row = o.home_row;
      replace.kind = RowEdit::Kind::kReplace;
      replace.bytes.assign(row.begin(), row.end());
      ApplyLongValuePatches(lv_plan, o.target_page, o.target_row,
                            &replace.bytes);
      plan.edits[home].push_back(std::move(replace));
      RowEdit drop;
      drop.row = o.target_row;
      drop.kind = RowEdit::Kind::kDelete;
      plan.edits[o.target_page].push_back(std::move(drop));
      plan.resolved_homes.insert({o.home_page, o.home_row});
      ++plan.resolved;
    }
  }
  return plan;
}

// The live entries of an index: walked in tree order, kept where they name
// a live row of the table (entries of deleted rows are dropped), sorted.
using PageMoves = std::map<uint32_t, uint32_t>;  // source page -> new page

Result<std::vector<IndexEntry>> LiveIndexEntries(PageFile& file,
                                                 uint32_t tdef_page,
                                                 uint32_t root,
                                                 const PageMoves& moves) {
  HVQ_ASSIGN_OR_RETURN(std::vector<IndexEntry> entries,
                       ReadIndexEntries(PageSourceFor(file), root));
  std::vector<IndexEntry> live;
  live.reserve(entries.size());
  for (IndexEntry& e : entries) {
    if (e.data_page == 0 || e.data_page >= file.page_count()) continue;
    HVQ_ASSIGN_OR_RETURN(PageRef page, file.GetPage(e.data_page));
    if ((*page)[0] != static_cast<uint8_t>(PageType::kData)) continue;
    auto dp = ParseDataPage(file.format(), e.data_page, *page);
    if (!dp.ok() || dp->long_value || dp->tdef_page != tdef_page ||
        e.data_row >= dp->rows.size() || dp->rows[e.data_row].deleted()) {
      continue;
    }
    e.child_page = 0;
    if (auto m = moves.find(e.data_page); m != moves.end()) {
      e.data_page = m->second;
    }
    live.push_back(std::move(e));
  }
  std::sort(live.begin(), live.end(),
            [](const IndexEntry& a, const IndexEntry& b) {
              return CompareIndexEntries(a, b) < 0;
            });
  live.erase(std::unique(live.begin(), live.end(),
                         [](const IndexEntry& a, const IndexEntry& b) {
                           return CompareIndexEntries(a, b) == 0;
                         }),
             live.end());
  return live;
}

// One index tree to rebuild into (some of) its own pages. The root keeps
// its page, so the table definition needs no change.
struct IndexRebuild {
  uint32_t tdef_page = 0;
  uint32_t root = 0;
  std::vector<uint32_t> assigned;  // in allocation order; the root last
};

struct IndexPlan {
  std::vector<IndexRebuild> rebuilds;
  std::vector<uint32_t> freed;  // old index pages no tree uses any more
  std::map<uint32_t, std::vector<RowEdit>> edits;  // usage-map records
};

// Plans the rebuild of every index whose usage map is inline (type 0).
// Indexes the plan cannot place in their own pages are left as they are.
Result<IndexPlan> PlanIndexRebuilds(Database& db, const Survey& survey,
                                    const PageMoves& moves) {
  PageFile& file = db.pages();
  const Format& f = file.format();
  IndexPlan plan;
  std::set<uint64_t> edited_records;
  for (const auto& [tdef_page, patch] : survey.tables) {
    (void)patch;
    HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(tdef_page));
    for (const RealIndexDef& index : def.real_indexes) {
      if (index.first_page == 0 || index.usage_map.page == 0) continue;
      const uint64_t record_key = index.usage_map.ToU32();
      if (!edited_records.insert(record_key).second) continue;
      IndexWalkStats stats;
      HVQ_RETURN_IF_ERROR(WalkIndex(
          PageSourceFor(file), index.first_page,
          [](const IndexWalkEntry&) { return Status::Ok(); }, nullptr, &stats));
      HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> record,
                           ReadUsageMapRecord(file, index.usage_map));
      if (record.size() <= f.usage_map_inline_bitmap_offset ||
          record[0] != kUsageMapInline) {
        continue;
      }
      HVQ_ASSIGN_OR_RETURN(
          std::vector<IndexEntry> entries,
          LiveIndexEntries(file, def.first_page, index.first_page, moves));
      uint32_t needed = 0;
      auto counted =
          BuildIndexTree(f, def.first_page, entries,
                         [&]() -> Result<uint32_t> { return ++needed; });
      if (!counted.ok()) continue;
      std::vector<uint32_t> old_pages = stats.pages;
      std::sort(old_pages.begin(), old_pages.end());
      old_pages.erase(std::unique(old_pages.begin(), old_pages.end()),
                      old_pages.end());
      if (needed == 0 || needed > old_pages.size()) continue;
      IndexRebuild rebuild;
      rebuild.tdef_page = def.first_page;
      rebuild.root = index.first_page;
      for (uint32_t p : old_pages) {
        if (p != index.first_page && rebuild.assigned.size() + 1 < needed) {
          rebuild.assigned.push_back(p);
        }
      }
      rebuild.assigned.push_back(index.first_page);
      std::vector<uint32_t> in_map = rebuild.assigned;
      std::sort(in_map.begin(), in_map.end());
      auto new_record = BuildInlineUsageMap(
          in_map, LoadU32Le(record.data() + f.usage_map_inline_start_offset),
          record.size());
      if (!new_record.ok()) continue;
      for (uint32_t p : old_pages) {
        if (!std::binary_search(in_map.begin(), in_map.end(), p)) {
          plan.freed.push_back(p);
        }
      }
      RowEdit edit;
      edit.row = index.usage_map.row;
      edit.bytes = std::move(*new_record);
      plan.edits[index.usage_map.page].push_back(std::move(edit));
      plan.rebuilds.push_back(std::move(rebuild));
    }
  }
  return plan;
}

// Marks `freed` free and `taken` used in the global usage map (page 1, row
// 0) by editing the bits of a copy of its record. Fails with NotSupported
// when the map is not inline or cannot name a page.
Result<RowEdit> EditGlobalMap(PageFile& file, std::vector<uint32_t> freed,
                              std::vector<uint32_t> taken) {
  const Format& f = file.format();
  const RowPointer where{kGlobalUsageMapPage, 0};
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> record,
                       ReadUsageMapRecord(file, where));
  if (record.size() <= f.usage_map_inline_bitmap_offset ||
      record[0] != kUsageMapInline) {
    return Status::NotSupported("the global usage map is not inline");
  }
  const uint32_t first =
      LoadU32Le(record.data() + f.usage_map_inline_start_offset);
  std::sort(freed.begin(), freed.end());
  std::sort(taken.begin(), taken.end());
  auto set_bits = BuildInlineUsageMap(freed, first, record.size());
  auto clear_bits = BuildInlineUsageMap(taken, first, record.size());
  if (!set_bits.ok()) return Status::NotSupported(set_bits.status().message());
  if (!clear_bits.ok()) {
    return Status::NotSupported(clear_bits.status().message());
  }
  for (size_t i = f.usage_map_inline_bitmap_offset; i < record.size(); ++i) {
    record[i] =
        static_cast<uint8_t>((record[i] | (*set_bits)[i]) & ~(*clear_bits)[i]);
  }
  RowEdit edit;
  edit.row = where.row;
  edit.bytes = std::move(record);
  return edit;
}

// An inline usage-map record: its pages and the range it can name.
struct InlineMap {
  RowPointer where;
  std::vector<uint8_t> record;
  std::vector<uint32_t> pages;
  uint32_t first = 0;
  uint64_t end = 0;  // one past the last page it can name
  bool Names(uint32_t page) const { return page >= first && page < end; }
};

Result<std::optional<InlineMap>> ReadInlineMap(PageFile& file,
                                               RowPointer where) {
  const Format& f = file.format();
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> record,
                       ReadUsageMapRecord(file, where));
  if (record.size() <= f.usage_map_inline_bitmap_offset ||
      record[0] != kUsageMapInline) {
    return std::optional<InlineMap>();
  }
  InlineMap m;
  m.where = where;
  HVQ_ASSIGN_OR_RETURN(m.pages, DecodeUsageMap(file, record, where));
  m.first = LoadU32Le(record.data() + f.usage_map_inline_start_offset);
  m.end =
      m.first + uint64_t{record.size() - f.usage_map_inline_bitmap_offset} * 8;
  m.record = std::move(record);
  return std::optional<InlineMap>(std::move(m));
}

// Applies the patches of data page `page_number` to its plain bytes.
Status ApplyLongValuePatches(const Format& f, const LongValuePlan& plan,
                             uint32_t page_number, std::vector<uint8_t>* page) {
  auto it = plan.patches.find(page_number);
  if (it == plan.patches.end()) return Status::Ok();
  HVQ_ASSIGN_OR_RETURN(DataPage dp, ParseDataPage(f, page_number, *page));
  for (const LongValuePatch& p : it->second) {
    HVQ_ASSIGN_OR_RETURN(Bytes row, dp.RowBytes(*page, p.row));
    if (p.offset + p.ref.size() > row.size()) {
      return Status::Internal("long-value patch past its row");
    }
    const size_t at = static_cast<size_t>(row.data() - page->data()) + p.offset;
    std::copy(p.ref.begin(), p.ref.end(), page->begin() + at);
  }
  return Status::Ok();
}

// Plans the rewrite; returns an empty plan (nothing changes) where it
// cannot be carried out: a long-value usage map that is not inline or
// cannot name the new pages, not enough pages, a global map that cannot
// record the change.
Result<LongValuePlan> PlanLongValues(Database& db, const Survey& survey,
                                     const std::vector<bool>& empty,
                                     const std::vector<uint32_t>& orphans) {
  PageFile& file = db.pages();
  const Format& f = file.format();
  std::set<uint32_t> old_pages;
  // Usage-map records of long-value columns, by record, with their map.
  std::map<uint32_t, InlineMap> maps;
  std::vector<TableDef> defs;
  for (const auto& [tdef, patch] : survey.tables) {
    (void)patch;
    HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(tdef));
    for (const VarColumnUsage& u : def.var_column_usage) {
      for (RowPointer ptr : {u.used_pages, u.free_pages}) {
        if (ptr.page == 0) continue;
        HVQ_ASSIGN_OR_RETURN(auto m, ReadInlineMap(file, ptr));
        if (!m) return LongValuePlan();
        for (uint32_t p : m->pages) {
          if (p > kGlobalUsageMapPage && p < file.page_count()) {
            old_pages.insert(p);
          }
        }
        maps[ptr.ToU32()] = std::move(*m);
      }
    }
    defs.push_back(std::move(def));
  }
  // Old pages: LVAL pages named by the maps or holding live values.
  auto is_lval = [&](uint32_t p) -> Result<bool> {
    HVQ_ASSIGN_OR_RETURN(PageRef page, file.GetPage(p));
    if ((*page)[0] != static_cast<uint8_t>(PageType::kData)) return false;
    auto dp = ParseDataPage(f, p, *page);
    return dp.ok() && dp->long_value;
  };

  LongValuePlan plan;
  std::set<uint32_t> pool_set;
  for (uint32_t p = kGlobalUsageMapPage + 1; p < empty.size(); ++p) {
    if (empty[p]) pool_set.insert(p);
  }
  // Values are read once to collect their pages, then stored.
  struct Pending {
    uint32_t page;
    uint8_t row;
    uint32_t offset;
    uint16_t column;
    uint32_t tdef;
  };
  std::vector<Pending> pending;
  for (const TableDef& def : defs) {
    Status row_error;
    HVQ_RETURN_IF_ERROR(
        ScanTable(file, def, [&](const RowLocation& loc, Bytes row) {
          auto slices = CrackRow(f, def, row, loc.data_page, 0);
          if (!slices.ok()) {
            row_error = slices.status();
            return false;
          }
          for (const ColumnSlice& s : *slices) {
            if (!s.present || !s.column->is_long_value()) continue;
            if (s.data.size() < kLongValueRefSize) continue;
            auto ref = ParseLongValueRef(s.data);
            if (!ref.ok()) {
              row_error = ref.status();
              return false;
            }
            if (ref->kind == LongValueKind::kInline || ref->length == 0) {
              continue;
            }
            auto rows = LongValueRows(file, s.data);
            if (!rows.ok()) {
              row_error = rows.status();
              return false;
            }
            for (const RowPointer& r : *rows) old_pages.insert(r.page);
            pending.push_back(
                {loc.data_page, loc.data_row,
                 static_cast<uint32_t>(s.data.data() - row.data()),
                 s.column->number, def.first_page});
          }
          return true;
        }));
    HVQ_RETURN_IF_ERROR(row_error);
  }
  if (pending.empty()) return plan;
  std::set<uint32_t> reusable;
  for (uint32_t p : old_pages) {
    if (p >= file.page_count() || survey.holds_record[p]) continue;
    HVQ_ASSIGN_OR_RETURN(bool lval, is_lval(p));
    if (lval) reusable.insert(p);
  }
  pool_set.insert(reusable.begin(), reusable.end());
  std::vector<uint32_t> pool(pool_set.begin(), pool_set.end());
  size_t next = 0;
  auto allocate = [&]() -> Result<uint32_t> {
    if (next >= pool.size()) {
      return Status::NotSupported("no page left for long values");
    }
    return pool[next++];
  };
  auto sink = [&](uint32_t page, Bytes bytes) -> Status {
    plan.pages[page].assign(bytes.begin(), bytes.end());
    return Status::Ok();
  };
  // One writer per (table, column).
  std::map<std::pair<uint32_t, uint16_t>, std::unique_ptr<LongValueWriter>>
      writers;
  std::map<uint32_t, TableDef*> def_of;
  for (TableDef& d : defs) def_of[d.first_page] = &d;
  for (const Pending& pv : pending) {
    // Re-read the value from the source row.
    HVQ_ASSIGN_OR_RETURN(PageRef page, file.GetPage(pv.page));
    HVQ_ASSIGN_OR_RETURN(DataPage dp, ParseDataPage(f, pv.page, *page));
    HVQ_ASSIGN_OR_RETURN(Bytes row, dp.RowBytes(*page, pv.row));
    if (pv.offset + kLongValueRefSize > row.size()) {
      return Status::Internal("long-value reference moved");
    }
    const Bytes field = row.subspan(pv.offset);
    HVQ_ASSIGN_OR_RETURN(LongValueRef ref, ParseLongValueRef(field));
    HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> value,
                         ReadLongValue(file, field));
    auto& w = writers[{pv.tdef, pv.column}];
    if (w == nullptr) {
      w = std::make_unique<LongValueWriter>(f, allocate, sink);
    }
    const LongValueStorage storage = ref.kind == LongValueKind::kSinglePage &&
                                             value.size() <= w->MaxRowBytes()
                                         ? LongValueStorage::kSinglePage
                                         : LongValueStorage::kChain;
    auto stored = w->Store(value, storage);
    if (!stored.ok()) {
      if (stored.status().code() == StatusCode::kNotSupported) {
        return LongValuePlan();
      }
      return stored.status();
    }
    if (stored->data.size() != kLongValueRefSize) {
      return Status::Internal("long-value reference of unexpected size");
    }
    LongValuePatch patch;
    patch.row = pv.row;
    patch.offset = pv.offset;
    std::copy(stored->data.begin(), stored->data.begin() + 8,
              patch.ref.begin());
    plan.patches[pv.page].push_back(patch);
    ++plan.values;
  }
  for (auto& [key, w] : writers) {
    Status st = w->Flush();
    if (!st.ok()) {
      if (st.code() == StatusCode::kNotSupported) return LongValuePlan();
      return st;
    }
  }
  // Usage maps of long-value columns: used = the column's pages, free =
  // its last page (as a fresh database has them).
  std::map<uint32_t, std::vector<uint32_t>> record_pages;
  for (const TableDef& def : defs) {
    for (const VarColumnUsage& u : def.var_column_usage) {
      std::vector<uint32_t> used, last;
      auto w = writers.find({def.first_page, u.column_number});
      if (w != writers.end()) {
        used = w->second->pages();
        if (!used.empty()) last.push_back(used.back());
      }
      if (u.used_pages.page != 0) {
        auto& v = record_pages[u.used_pages.ToU32()];
        v.insert(v.end(), used.begin(), used.end());
      }
      if (u.free_pages.page != 0) {
        auto& v = record_pages[u.free_pages.ToU32()];
        v.insert(v.end(), last.begin(), last.end());
      }
    }
  }
  for (auto& [key, pages] : record_pages) {
    const InlineMap& m = maps.at(key);
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    auto record = BuildInlineUsageMap(pages, m.first, m.record.size());
    if (!record.ok() && !pages.empty()) {
      record = BuildInlineUsageMap(pages, pages.front(), m.record.size());
    }
    if (!record.ok()) return LongValuePlan();
    RowEdit edit;
    edit.row = m.where.row;
    edit.bytes = std::move(*record);
    plan.edits[m.where.page].push_back(std::move(edit));
  }
  // A rewrite that saves no page is not worth the churn (and a compacted
  // file compacts to itself).
  if (next >= reusable.size()) return LongValuePlan();
  std::set<uint32_t> now(pool.begin(), pool.begin() + next);
  for (uint32_t p : reusable) {
    if (!now.count(p)) plan.freed.push_back(p);
  }
  for (uint32_t p : now) {
    if (!reusable.count(p) || empty[p]) plan.taken.push_back(p);
  }
  // The global map must be able to record it (with the orphans).
  std::vector<uint32_t> all_freed = plan.freed;
  all_freed.insert(all_freed.end(), orphans.begin(), orphans.end());
  if (!EditGlobalMap(file, all_freed, plan.taken).ok()) {
    return LongValuePlan();
  }
  return plan;
}

// Data pages moved down into free pages, so that the file can end sooner.
// A page moves only where every reference to it can be rewritten: its
// table's owned (and free-space) usage maps are inline and can name the new
// page, every index of the table is rebuilt, no unresolved overflow row
// involves it, it holds no usage-map record and no long-value usage map of
// the table names it.
struct MovePlan {
  PageMoves moves;                                 // source -> new page
  std::set<uint32_t> tables;                       // tdef pages with moves
  std::map<uint32_t, std::vector<RowEdit>> edits;  // usage-map records
};

Result<MovePlan> PlanPageMoves(Database& db, const Survey& survey,
                               const std::vector<bool>& empty,
                               const OverflowPlan& overflow_plan,
                               const std::set<uint32_t>& blocked) {
  PageFile& file = db.pages();
  const Format& f = file.format();
  std::set<uint32_t> involved;  // pages of unresolved overflow rows
  for (const Overflow& o : survey.overflows) {
    if (!overflow_plan.resolved_homes.count({o.home_page, o.home_row})) {
      involved.insert(o.home_page);
      involved.insert(o.target_page);
    }
  }
  struct Candidate {
    uint32_t page;
    uint32_t tdef;
  };
  std::vector<Candidate> candidates;
  std::map<uint32_t, InlineMap> owned_maps, free_maps;
  for (const auto& [tdef, patch] : survey.tables) {
    (void)patch;
    if (blocked.count(tdef)) continue;
    HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(tdef));
    if (def.owned_pages.page == 0) continue;
    HVQ_ASSIGN_OR_RETURN(auto owned, ReadInlineMap(file, def.owned_pages));
    if (!owned) continue;
    std::optional<InlineMap> free_map;
    if (def.free_pages.page != 0) {
      HVQ_ASSIGN_OR_RETURN(free_map, ReadInlineMap(file, def.free_pages));
      if (!free_map) continue;
    }
    bool indexes_ok = true;
    for (const RealIndexDef& index : def.real_indexes) {
      if (index.first_page == 0 || index.usage_map.page == 0) {
        indexes_ok = false;
        break;
      }
      HVQ_ASSIGN_OR_RETURN(auto m, ReadInlineMap(file, index.usage_map));
      if (!m) indexes_ok = false;
    }
    if (!indexes_ok) continue;
    std::set<uint32_t> long_value_pages;
    for (const VarColumnUsage& u : def.var_column_usage) {
      for (RowPointer ptr : {u.used_pages, u.free_pages}) {
        if (ptr.page == 0) continue;
        HVQ_ASSIGN_OR_RETURN(std::vector<uint32_t> pages,
                             ReadUsageMap(file, ptr));
        long_value_pages.insert(pages.begin(), pages.end());
      }
    }
    for (uint32_t p : owned->pages) {
      if (p <= kGlobalUsageMapPage || p >= file.page_count() ||
          survey.holds_record[p] || involved.count(p) ||
          long_value_pages.count(p)) {
        continue;
      }
      HVQ_ASSIGN_OR_RETURN(PageRef page, file.GetPage(p));
      if ((*page)[0] != static_cast<uint8_t>(PageType::kData)) continue;
      auto dp = ParseDataPage(f, p, *page);
      if (!dp.ok() || dp->long_value || dp->tdef_page != def.first_page) {
        continue;
      }
      candidates.push_back({p, def.first_page});
    }
    owned_maps[def.first_page] = std::move(*owned);
    if (free_map) free_maps[def.first_page] = std::move(*free_map);
  }
  std::sort(
      candidates.begin(), candidates.end(),
      [](const Candidate& a, const Candidate& b) { return a.page > b.page; });
  std::vector<uint32_t> holes;
  for (uint32_t p = kGlobalUsageMapPage + 1; p < empty.size(); ++p) {
    if (empty[p]) holes.push_back(p);
  }
  MovePlan plan;
  size_t next_hole = 0;
  for (const Candidate& c : candidates) {
    if (next_hole >= holes.size() || holes[next_hole] >= c.page) break;
    const uint32_t hole = holes[next_hole];
    const InlineMap& owned = owned_maps[c.tdef];
    auto fm = free_maps.find(c.tdef);
    const bool in_free_map = fm != free_maps.end() &&
                             std::binary_search(fm->second.pages.begin(),
                                                fm->second.pages.end(), c.page);
    if (!owned.Names(hole) || (in_free_map && !fm->second.Names(hole))) {
      continue;
    }
    plan.moves[c.page] = hole;
    plan.tables.insert(c.tdef);
    ++next_hole;
  }
  // Rewrite the usage maps of the tables whose pages move.
  auto rewrite = [&](const InlineMap& m) -> Status {
    std::vector<uint32_t> pages;
    bool changed = false;
    for (uint32_t p : m.pages) {
      auto it = plan.moves.find(p);
      changed = changed || it != plan.moves.end();
      pages.push_back(it != plan.moves.end() ? it->second : p);
    }
    if (!changed) return Status::Ok();
    std::sort(pages.begin(), pages.end());
    HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> record,
                         BuildInlineUsageMap(pages, m.first, m.record.size()));
    RowEdit edit;
    edit.row = m.where.row;
    edit.bytes = std::move(record);
    plan.edits[m.where.page].push_back(std::move(edit));
    return Status::Ok();
  };
  for (uint32_t tdef : plan.tables) {
    HVQ_RETURN_IF_ERROR(rewrite(owned_maps[tdef]));
    if (auto fm = free_maps.find(tdef); fm != free_maps.end()) {
      HVQ_RETURN_IF_ERROR(rewrite(fm->second));
    }
  }
  return plan;
}

// Applies the survey's row count and AutoNumber corrections to the first
// page of a table definition.
void PatchTableDef(const Format& f, const TablePatch& patch,
                   std::vector<uint8_t>* page, CompactStats* stats) {
  if (patch.live_rows != patch.stored_rows) {
    StoreU32Le(page->data() + f.tdef_row_count_offset, patch.live_rows);
    ++stats->row_counts_corrected;
  }
  if (patch.has_autonumber && patch.max_autonumber != patch.stored_autonumber) {
    StoreU32Le(page->data() + f.tdef_autonumber_offset, patch.max_autonumber);
    ++stats->autonumber_seeds_reset;
  }
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
  const Format& f = file.format();
  if (options.encrypt && !db.header().encrypted()) {
    return Status::NotSupported(
        "encrypting an unencrypted database (ENCRYPT) is not supported");
  }

  HVQ_ASSIGN_OR_RETURN(Survey survey, SurveyDatabase(db));
  HVQ_ASSIGN_OR_RETURN(GlobalUsage global, ReadGlobalUsage(file));
  for (uint32_t p : global.map_pages) survey.Use(p);
  std::vector<bool> empty(file.page_count(), false);
  for (uint32_t p : global.free_pages) {
    if (p < empty.size() && !survey.used[p]) empty[p] = true;
  }
  // Pages nothing reaches (old LVAL pages of deleted values, abandoned
  // data or index pages) still marked used become free, where the global
  // map can say so.
  std::vector<uint32_t> orphans;
  for (uint32_t p = kGlobalUsageMapPage + 1; p < empty.size(); ++p) {
    if (!empty[p] && !survey.used[p]) orphans.push_back(p);
  }
  if (!orphans.empty() && EditGlobalMap(file, orphans, {}).ok()) {
    for (uint32_t p : orphans) empty[p] = true;
  } else {
    orphans.clear();
  }
  stats.orphan_pages_freed = static_cast<uint32_t>(orphans.size());
  // Long values first: the LVAL pages they leave become free pages the
  // data pages can move into.
  HVQ_ASSIGN_OR_RETURN(LongValuePlan lv_plan,
                       PlanLongValues(db, survey, empty, orphans));
  for (uint32_t p : lv_plan.freed) empty[p] = true;
  for (uint32_t p : lv_plan.taken) empty[p] = false;
  stats.long_values_rewritten = lv_plan.values;
  stats.long_value_pages_freed = static_cast<uint32_t>(lv_plan.freed.size());
  HVQ_ASSIGN_OR_RETURN(OverflowPlan overflow_plan,
                       PlanOverflowMoves(file, survey, lv_plan));
  stats.overflow_rows_resolved = overflow_plan.resolved;
  std::map<uint32_t, std::vector<RowEdit>>& edits = overflow_plan.edits;

  // Data pages move down into free pages where every reference to them can
  // be rewritten; index trees are rebuilt into their own pages (with the
  // moved row pointers); pages they no longer need become free. Tables
  // whose indexes cannot all be rebuilt keep their pages. The global usage
  // map records all of it; where it cannot, nothing moves and indexes stay
  // as they are.
  std::set<uint32_t> blocked;
  MovePlan move_plan;
  IndexPlan index_plan;
  for (int attempt = 0;; ++attempt) {
    if (attempt < 4) {
      HVQ_ASSIGN_OR_RETURN(
          move_plan, PlanPageMoves(db, survey, empty, overflow_plan, blocked));
    } else {
      move_plan = MovePlan();
    }
    HVQ_ASSIGN_OR_RETURN(index_plan,
                         PlanIndexRebuilds(db, survey, move_plan.moves));
    std::set<uint32_t> failed;
    for (uint32_t tdef : move_plan.tables) {
      HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(tdef));
      size_t rebuilt = 0;
      for (const IndexRebuild& r : index_plan.rebuilds) {
        rebuilt += r.tdef_page == tdef ? 1 : 0;
      }
      if (rebuilt != def.real_indexes.size()) failed.insert(tdef);
    }
    if (failed.empty()) break;
    blocked.insert(failed.begin(), failed.end());
  }
  std::vector<uint32_t> freed = index_plan.freed;
  std::vector<uint32_t> taken;
  // Long-value pages handed out were either old LVAL pages (still marked
  // used) or free pages (taken below).
  freed.insert(freed.end(), lv_plan.freed.begin(), lv_plan.freed.end());
  taken.insert(taken.end(), lv_plan.taken.begin(), lv_plan.taken.end());
  std::vector<uint32_t> base_freed = lv_plan.freed;
  base_freed.insert(base_freed.end(), orphans.begin(), orphans.end());
  freed.insert(freed.end(), orphans.begin(), orphans.end());
  for (const auto& [from, to] : move_plan.moves) {
    freed.push_back(from);
    taken.push_back(to);
  }
  if (!freed.empty() || !taken.empty()) {
    auto global_edit = EditGlobalMap(file, freed, taken);
    if (global_edit.ok()) {
      edits[kGlobalUsageMapPage].push_back(std::move(*global_edit));
      for (uint32_t p : freed) empty[p] = true;
      for (uint32_t p : taken) empty[p] = false;
    } else {
      // The long-value plan alone was checked against the global map.
      move_plan = MovePlan();
      index_plan = IndexPlan();
      if (!base_freed.empty() || !lv_plan.taken.empty()) {
        HVQ_ASSIGN_OR_RETURN(RowEdit lv_edit,
                             EditGlobalMap(file, base_freed, lv_plan.taken));
        edits[kGlobalUsageMapPage].push_back(std::move(lv_edit));
      }
    }
  }
  for (auto* more : {&index_plan.edits, &move_plan.edits, &lv_plan.edits}) {
    for (auto& [page, list] : *more) {
      for (RowEdit& e : list) edits[page].push_back(std::move(e));
    }
  }
  const PageMoves& moves = move_plan.moves;
  stats.indexes_rebuilt = static_cast<uint32_t>(index_plan.rebuilds.size());
  stats.index_pages_freed = static_cast<uint32_t>(index_plan.freed.size());
  stats.data_pages_moved = static_cast<uint32_t>(moves.size());
  // What each output page holds: the source page written there, 0 = empty.
  std::vector<uint32_t> source_of(file.page_count(), 0);
  for (uint32_t p = 0; p < file.page_count(); ++p) {
    if (!empty[p]) source_of[p] = p;
  }
  for (const auto& [from, to] : moves) source_of[to] = from;
  uint32_t last = 0;
  for (uint32_t p = 0; p < file.page_count(); ++p) {
    if (source_of[p] != 0 || p <= kGlobalUsageMapPage ||
        lv_plan.pages.count(p)) {
      last = p;
    }
  }

  HVQ_ASSIGN_OR_RETURN(
      std::unique_ptr<PageWriter> writer,
      PageWriter::ForFd(output_fd, f, db.header().database_key));
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> header_page,
                       file.ReadRawHeaderPage());
  HVQ_RETURN_IF_ERROR(writer->WritePage(0, header_page));
  std::vector<bool> written(file.page_count(), false);
  for (const auto& [p, bytes] : lv_plan.pages) {
    HVQ_RETURN_IF_ERROR(writer->WritePage(p, bytes));
    written[p] = true;
  }
  for (const IndexRebuild& rebuild : index_plan.rebuilds) {
    HVQ_ASSIGN_OR_RETURN(
        std::vector<IndexEntry> entries,
        LiveIndexEntries(file, rebuild.tdef_page, rebuild.root, moves));
    size_t next = 0;
    HVQ_ASSIGN_OR_RETURN(
        BuiltIndexTree tree,
        BuildIndexTree(f, rebuild.tdef_page, entries,
                       [&]() -> Result<uint32_t> {
                         if (next >= rebuild.assigned.size()) {
                           return Status::Internal("index grew on rebuild");
                         }
                         return rebuild.assigned[next++];
                       }));
    if (tree.root_page != rebuild.root ||
        tree.pages.size() != rebuild.assigned.size()) {
      return Status::Internal("index rebuild of table " +
                              std::to_string(rebuild.tdef_page) +
                              " did not match its plan");
    }
    for (const BuiltIndexPage& built : tree.pages) {
      HVQ_RETURN_IF_ERROR(writer->WritePage(built.page_number, built.bytes));
      written[built.page_number] = true;
    }
  }

  const std::vector<uint8_t> zero(f.page_size, 0);
  std::vector<uint8_t> page(f.page_size);
  for (uint32_t out = 1; out <= last; ++out) {
    if (written[out]) continue;
    const uint32_t p = source_of[out];
    if (p == 0) {
      HVQ_RETURN_IF_ERROR(writer->WritePage(out, zero));
      ++stats.pages_emptied;
      continue;
    }
    HVQ_RETURN_IF_ERROR(file.ReadPage(p, page));
    if (page[0] == static_cast<uint8_t>(PageType::kData)) {
      HVQ_RETURN_IF_ERROR(ApplyLongValuePatches(f, lv_plan, p, &page));
      auto page_edits = edits.find(p);
      auto repacked = page_edits == edits.end()
                          ? RepackDataPage(f, p, page)
                          : RepackDataPage(f, p, page, page_edits->second);
      if (repacked.ok()) {
        stats.deleted_rows_dropped += repacked->deleted_rows;
        stats.bytes_reclaimed += repacked->bytes_reclaimed;
        page = std::move(repacked->bytes);
      } else if (survey.used[p]) {
        return repacked.status();
      }
    } else if (page[0] == static_cast<uint8_t>(PageType::kTableDef)) {
      auto it = survey.tables.find(p);
      if (it != survey.tables.end()) {
        PatchTableDef(f, it->second, &page, &stats);
      }
    }
    HVQ_RETURN_IF_ERROR(writer->WritePage(out, page));
  }
  HVQ_RETURN_IF_ERROR(writer->Finish());
  stats.source_pages = file.page_count();
  stats.output_pages = last + 1;
  stats.tables = survey.tables_read;
  if (stats_out != nullptr) *stats_out = stats;
  return Status::Ok();
}

}  // namespace hvq::jet
