// Index consistency check; contract in index_check.h.
#include "jet/index_check.h"

#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "jet/database.h"
#include "jet/index_key.h"

namespace hvq::jet {
namespace {

using RowId = std::pair<uint32_t, uint8_t>;

std::string RowName(RowId r) {
  return "page " + std::to_string(r.first) + " row " + std::to_string(r.second);
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

  // Keep only the values of indexed columns.
  std::vector<bool> indexed(def.columns.size(), false);
  for (const RealIndexDef& index : def.real_indexes) {
    for (const IndexColumn& ic : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number) indexed[i] = true;
      }
    }
  }
  std::map<RowId, std::vector<Value>> rows;
  Status scan = db.ScanRows(
      def, [&](const RowLocation& loc, const std::vector<Value>& values) {
        std::vector<Value> kept(values.size());
        for (size_t i = 0; i < values.size() && i < kept.size(); ++i) {
          if (indexed[i]) kept[i] = values[i];
        }
        rows.emplace(RowId{loc.page, loc.row}, std::move(kept));
        return true;
      });
  HVQ_RETURN_IF_ERROR(scan);

  IndexPageSource source = PageSourceFor(db.pages());
  const Format& format = db.format();
  for (size_t r = 0; r < def.real_indexes.size(); ++r) {
    const RealIndexDef& index = def.real_indexes[r];
    const std::string name = "index " + std::to_string(r) + " of table at " +
                             "tdef page " + std::to_string(def.first_page);
    ++stats->indexes;
    auto report = [&](uint32_t page, uint32_t offset, std::string what) {
      problems->push_back({page, offset, name + ": " + std::move(what)});
    };
    std::vector<IndexProblem> walk_problems;
    std::set<RowId> seen;
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
          const RowId id{e.entry->data_page, e.entry->data_row};
          auto row = rows.find(id);
          if (row == rows.end()) {
            report(
                e.leaf_page, e.offset,
                "entry points at " + RowName(id) + ", which is not a live row");
            return Status::Ok();
          }
          if (!IndexCoversRow(def, index, row->second)) {
            report(e.leaf_page, e.offset,
                   "entry for " + RowName(id) +
                       ", whose indexed columns are all null, in an index "
                       "that ignores nulls");
          }
          if (!seen.insert(id).second) {
            report(e.leaf_page, e.offset, "second entry for " + RowName(id));
          }
          auto key = EncodeIndexKey(format, def, index, row->second);
          if (!key.ok()) {
            if (key.status().code() == StatusCode::kNotSupported) {
              ++stats->keys_not_encodable;
            } else {
              report(e.leaf_page, e.offset,
                     "key of " + RowName(id) +
                         " cannot be built: " + key.status().ToString());
            }
          } else {
            ++stats->keys_compared;
            if (*key != e.entry->key) {
              report(e.leaf_page, e.offset,
                     "entry key differs from the values of " + RowName(id));
            }
          }
          return Status::Ok();
        },
        &walk_problems);
    for (IndexProblem& p : walk_problems) {
      report(p.page, p.offset, std::move(p.what));
    }
    if (!walk.ok()) {
      report(walk.page().value_or(index.first_page), walk.offset().value_or(0),
             "index cannot be walked: " + walk.message());
      continue;
    }
    for (const auto& [id, values] : rows) {
      if (seen.count(id)) continue;
      if (!IndexCoversRow(def, index, values)) continue;
      report(id.first, 0, RowName(id) + " has no entry in the index");
    }
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
