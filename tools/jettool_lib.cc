// jettool commands: info, tables, dump, export, check.
#include "tools/jettool_lib.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "jet/data_page.h"
#include "jet/index_check.h"
#include "jet/long_value.h"
#include "jet/row.h"
#include "jet/usage_map.h"
#include "tools/jettool_compact.h"

namespace hvq::tools {
namespace {

using jet::Bytes;
using jet::ColumnDef;
using jet::ColumnType;
using jet::Database;
using jet::PageRef;
using jet::RowLocation;
using jet::TableDef;
using jet::Value;

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"')
      out += "\"\"";
    else
      out.push_back(c);
  }
  out += "\"";
  return out;
}

std::string CsvLine(const std::vector<Value>& values,
                    const std::vector<size_t>& order) {
  std::string line;
  for (size_t k = 0; k < order.size(); ++k) {
    if (k) line.push_back(',');
    line += CsvField(values[order[k]]);
  }
  return line;
}

// Positions in def.columns, sorted by column number.
std::vector<size_t> NumberOrder(const TableDef& def) {
  std::vector<size_t> order(def.columns.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return def.columns[a].number < def.columns[b].number;
  });
  return order;
}

std::string ColumnDescription(const jet::Format& f, const ColumnDef& c) {
  std::string d =
      Quote(c.name) + " " + std::string(jet::ColumnTypeName(c.type));
  if (c.type == ColumnType::kText) {
    uint32_t chars =
        f.text_encoding == jet::TextEncoding::kUcs2 ? c.length / 2 : c.length;
    d += "(" + std::to_string(chars) + ")";
  } else if (c.type == ColumnType::kBinary) {
    d += "(" + std::to_string(c.length) + ")";
  } else if (c.type == ColumnType::kNumeric) {
    d +=
        "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
  }
  if (c.is_autonumber()) d += " autonumber";
  if ((c.flags & jet::kColumnFlagAutoGuid) != 0) d += " autoguid";
  if ((c.flags & jet::kColumnFlagHyperlink) != 0) d += " hyperlink";
  return d;
}

std::string TableNameForPage(const Database& db, uint32_t page) {
  for (const auto& e : db.catalog()) {
    if (e.is_table() && e.tdef_page() == page) return e.name;
  }
  return "page " + std::to_string(page);
}

std::string IndexDescription(const Database& db, const TableDef& def,
                             const jet::LogicalIndexDef& li) {
  const jet::RealIndexDef& ri = def.real_indexes[li.real_index];
  std::string d = Quote(li.name);
  if (li.is_primary()) d += " primary";
  if (li.is_foreign()) d += " foreign";
  if (ri.unique()) d += " unique";
  if (ri.ignore_nulls()) d += " ignorenulls";
  if (ri.required()) d += " required";
  d += " (";
  for (size_t k = 0; k < ri.columns.size(); ++k) {
    if (k) d += ", ";
    const ColumnDef* c = def.FindColumn(ri.columns[k].column_number);
    d += c ? Quote(c->name) : "#" + std::to_string(ri.columns[k].column_number);
    d += ri.columns[k].ascending ? " asc" : " desc";
  }
  d += ")";
  if (li.is_foreign()) {
    d += " references " + Quote(TableNameForPage(db, li.related_table_page));
    if (li.cascade_updates) d += " cascade-updates";
    if (li.cascade_deletes) d += " cascade-deletes";
  }
  return d;
}

const char* PageTypeName(uint8_t t) {
  switch (t) {
    case 0x00:
      return "header/empty";
    case 0x01:
      return "data";
    case 0x02:
      return "table-definition";
    case 0x03:
      return "index-intermediate";
    case 0x04:
      return "index-leaf";
    case 0x05:
      return "usage-map";
    default:
      return "other";
  }
}

Result<std::unique_ptr<Database>> OpenFor(const std::string& path,
                                          const std::string& password) {
  jet::OpenOptions o;
  o.password = password;
  return Database::Open(path, o);
}

}  // namespace

std::string CsvField(const Value& v) {
  if (v.is_null()) return "";
  std::string s = jet::FormatValue(v);
  bool quote = s.empty() || s.find_first_of(",\"\r\n") != std::string::npos ||
               s.front() == ' ' || s.back() == ' ';
  if (v.kind == Value::Kind::kText) quote = true;  // "" vs null
  return quote ? Quote(s) : s;
}

Status WriteInfo(Database& db, std::ostream& out) {
  const jet::Header& h = db.header();
  jet::PageFile& file = db.pages();
  char date[64] = "";
  if (h.format->header_creation_date_offset != 0) {
    jet::CivilTime t = jet::JetDateToCivil(h.creation_date);
    std::snprintf(date, sizeof date, "%04lld-%02d-%02d %02d:%02d:%02d",
                  static_cast<long long>(t.year), t.month, t.day, t.hour,
                  t.minute, t.second);
  }
  out << "version: " << h.format->name << "\n";
  out << "page size: " << file.page_size() << "\n";
  out << "pages: " << file.page_count() << "\n";
  if (file.file_size() % file.page_size() != 0) {
    out << "trailing bytes: " << file.file_size() % file.page_size() << "\n";
  }
  out << "code page: " << h.code_page << "\n";
  char so[16];
  std::snprintf(so, sizeof so, "0x%x", h.sort_order);
  out << "sort order: " << so << "\n";
  out << "encrypted: " << (h.encrypted() ? "yes" : "no") << "\n";
  out << "password: " << (h.has_password() ? "set" : "none") << "\n";
  if (date[0]) out << "created: " << date << "\n";

  HVQ_ASSIGN_OR_RETURN(jet::GlobalUsage g, jet::ReadGlobalUsage(file));
  std::set<uint32_t> free_set(g.free_pages.begin(), g.free_pages.end());
  // Page types over all pages; row and long-value counts over pages in use
  // (free pages keep stale content).
  std::map<uint8_t, uint32_t> histogram;
  uint64_t deleted = 0, overflow = 0, lval = 0;
  for (uint32_t p = 1; p < file.page_count(); ++p) {
    HVQ_ASSIGN_OR_RETURN(PageRef page, file.GetPage(p));
    uint8_t t = (*page)[0];
    histogram[t]++;
    if (t != static_cast<uint8_t>(jet::PageType::kData)) continue;
    if (free_set.count(p)) continue;
    auto dp = jet::ParseDataPage(db.format(), p, *page);
    if (!dp.ok()) continue;  // check reports it
    if (dp->long_value) ++lval;
    for (const auto& s : dp->rows) {
      if (s.deleted()) ++deleted;
      if (s.overflow_pointer()) ++overflow;
    }
  }
  out << "page types:\n";
  for (auto [t, n] : histogram) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", t);
    out << "  " << hex << " " << PageTypeName(t) << ": " << n << "\n";
  }
  out << "long-value pages: " << lval << "\n";
  out << "free pages: " << g.free_pages.size() << "\n";
  out << "deleted row slots: " << deleted << "\n";
  out << "overflow rows: " << overflow << "\n";
  auto user = db.Tables(false);
  auto all = db.Tables(true);
  out << "tables: " << user.size() << " user, " << all.size() - user.size()
      << " system\n";
  return Status::Ok();
}

Status WriteDump(Database& db, const DumpOptions& options, std::ostream& out) {
  for (const jet::TableInfo& t : db.Tables(options.include_system)) {
    HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(t.tdef_page));
    std::vector<size_t> order = NumberOrder(def);
    std::vector<std::string> rows;
    HVQ_RETURN_IF_ERROR(db.ScanRows(
        def, [&](const RowLocation&, const std::vector<Value>& values) {
          rows.push_back(CsvLine(values, order));
          return true;
        }));
    std::sort(rows.begin(), rows.end());
    out << "table " << Quote(t.name) << (t.system ? " system" : "")
        << " columns=" << def.columns.size() << " rows=" << rows.size() << "\n";
    for (size_t i : order) {
      out << "  column " << ColumnDescription(db.format(), def.columns[i])
          << "\n";
    }
    std::vector<std::string> indexes;
    for (const auto& li : def.logical_indexes) {
      indexes.push_back(IndexDescription(db, def, li));
    }
    std::sort(indexes.begin(), indexes.end());
    for (const auto& s : indexes) out << "  index " << s << "\n";
    for (const auto& r : rows) out << "  row " << r << "\n";
  }
  return Status::Ok();
}

Status WriteCsv(Database& db, const std::string& table, bool with_types,
                std::ostream& out) {
  HVQ_ASSIGN_OR_RETURN(TableDef def, db.ReadTableDef(table));
  std::vector<size_t> order = NumberOrder(def);
  for (size_t k = 0; k < order.size(); ++k) {
    if (k) out << ',';
    out << Quote(def.columns[order[k]].name);
  }
  out << "\n";
  if (with_types) {
    for (size_t k = 0; k < order.size(); ++k) {
      if (k) out << ',';
      out << jet::ColumnTypeName(def.columns[order[k]].type);
    }
    out << "\n";
  }
  return db.ScanRows(def,
                     [&](const RowLocation&, const std::vector<Value>& values) {
                       out << CsvLine(values, order) << "\n";
                       return true;
                     });
}

Result<CheckReport> CheckDatabase(Database& db) {
  CheckReport report;
  jet::PageFile& file = db.pages();
  const uint32_t n = file.page_count();
  std::vector<std::string> owner(n);
  auto problem = [&](std::string what, std::optional<uint32_t> page) {
    report.problems.push_back(Problem{std::move(what), page});
  };
  auto claim = [&](uint32_t page, const std::string& who) {
    if (page >= n) {
      problem(who + " names page " + std::to_string(page) +
                  " past the end of the file",
              std::nullopt);
      return;
    }
    if (!owner[page].empty() && owner[page] != who) {
      problem("page " + std::to_string(page) + " is claimed by " + owner[page] +
                  " and by " + who,
              page);
      return;
    }
    owner[page] = who;
  };
  auto page_type = [&](uint32_t page) -> int {
    auto p = file.GetPage(page);
    return p.ok() ? (**p)[0] : -1;
  };
  if (file.file_size() % file.page_size() != 0) {
    problem("file size " + std::to_string(file.file_size()) +
                " is not a multiple of the page size",
            std::nullopt);
  }
  claim(0, "the header");
  claim(jet::kGlobalUsageMapPage, "the global usage map");
  auto global = jet::ReadGlobalUsage(file);
  if (!global.ok()) {
    problem("global usage map: " + global.status().ToString(),
            jet::kGlobalUsageMapPage);
  } else {
    for (uint32_t p : global->free_pages) claim(p, "the free list");
  }

  std::map<uint32_t, std::string> table_of_tdef;
  for (const jet::TableInfo& t : db.Tables(true)) {
    table_of_tdef[t.tdef_page] = t.name;
  }
  for (const jet::TableInfo& t : db.Tables(true)) {
    const std::string who = "table " + Quote(t.name);
    auto def = db.ReadTableDef(t.tdef_page);
    if (!def.ok()) {
      problem(who + ": " + def.status().ToString(), t.tdef_page);
      continue;
    }
    ++report.tables_checked;
    for (uint32_t p : def->pages) claim(p, who + " definition");
    std::set<uint32_t> map_holders;
    auto claim_map = [&](jet::RowPointer ptr, const std::string& what,
                         int want1, int want2) {
      auto pages = jet::ReadUsageMap(file, ptr);
      if (!pages.ok()) {
        problem(what + " usage map: " + pages.status().ToString(), ptr.page);
        return std::vector<uint32_t>{};
      }
      claim(ptr.page, "usage map records");
      for (uint32_t p : *pages) {
        if (!owner[p].empty() && owner[p] == "the free list") {
          // A stale bit for a freed page: the free list decides.
          continue;
        }
        int type = page_type(p);
        if (type != want1 && type != want2) {
          problem(what + " owns page " + std::to_string(p) + " of type " +
                      std::to_string(type),
                  p);
          continue;
        }
        claim(p, what);
      }
      return *pages;
    };
    std::vector<uint32_t> data_pages =
        claim_map(def->owned_pages, who + " data", 0x01, 0x01);
    for (uint32_t p : data_pages) {
      if (owner[p] != who + " data") continue;
      auto page = file.GetPage(p);
      if (!page.ok()) continue;
      auto dp = jet::ParseDataPage(db.format(), p, **page);
      if (!dp.ok()) {
        problem(dp.status().ToString(), p);
        continue;
      }
      if (!dp->long_value && dp->tdef_page != t.tdef_page) {
        problem(who + " usage map owns data page " + std::to_string(p) +
                    " of table definition " + std::to_string(dp->tdef_page),
                p);
      }
    }
    for (size_t k = 0; k < def->real_indexes.size(); ++k) {
      claim_map(def->real_indexes[k].usage_map,
                who + " index " + std::to_string(k), 0x03, 0x04);
    }
    for (const auto& vu : def->var_column_usage) {
      claim_map(
          vu.used_pages,
          who + " long values of column " + std::to_string(vu.column_number),
          0x01, 0x01);
    }

    // Rows: every live row and long value decodes; count them.
    uint64_t live = 0;
    Status scan = db.ScanRawRows(*def, [&](const RowLocation& loc, Bytes row) {
      ++live;
      auto values = db.DecodeRow(*def, row, loc);
      if (!values.ok()) {
        problem(who + " row at page " + std::to_string(loc.page) + " slot " +
                    std::to_string(loc.row) + ": " + values.status().ToString(),
                loc.data_page);
      }
      return report.problems.size() < 1000;
    });
    if (!scan.ok()) problem(who + " rows: " + scan.ToString(), std::nullopt);
    report.rows_checked += live;

    // Indexes: one entry per live row, in key order, pointing right.
    std::vector<jet::IndexProblem> index_problems;
    jet::IndexCheckStats stats;
    Status ix = jet::CheckTableIndexes(db, *def, &index_problems, &stats);
    if (!ix.ok()) problem(who + " indexes: " + ix.ToString(), std::nullopt);
    for (const auto& ip : index_problems) {
      problem(who + " index: " + jet::FormatIndexProblem(ip), ip.page);
    }
    report.indexes_checked += stats.indexes;
    report.index_entries_checked += stats.entries;
    report.index_keys_compared += stats.keys_compared;
    report.index_keys_not_encodable += stats.keys_not_encodable;
    if (scan.ok() && live != def->row_count) {
      problem(who + " has stale row count: definition says " +
                  std::to_string(def->row_count) + ", live rows " +
                  std::to_string(live),
              t.tdef_page);
    }
  }

  // Data pages that name a table but are neither in its map nor free.
  std::map<std::string, uint32_t> unowned;
  for (uint32_t p = 2; p < n; ++p) {
    if (!owner[p].empty()) continue;
    auto page = file.GetPage(p);
    if (!page.ok()) {
      problem(page.status().ToString(), p);
      continue;
    }
    uint8_t type = (**page)[0];
    std::string kind = PageTypeName(type);
    if (type == 0x01) {
      auto dp = jet::ParseDataPage(db.format(), p, **page);
      if (dp.ok() && dp->long_value) kind = "long-value";
      if (dp.ok() && !dp->long_value && table_of_tdef.count(dp->tdef_page)) {
        size_t live = 0;
        for (const auto& s : dp->rows) live += s.deleted() ? 0 : 1;
        std::string msg = "data page " + std::to_string(p) + " of table " +
                          Quote(table_of_tdef[dp->tdef_page]) +
                          " is neither in its usage map nor free";
        if (live > 0) {
          // Its rows are invisible to every reader.
          problem(msg + " and holds " + std::to_string(live) + " live rows", p);
        } else {
          report.notes.push_back(msg + " (leaked: no live rows)");
        }
      }
    }
    unowned[kind]++;
  }
  for (const auto& [kind, count] : unowned) {
    report.notes.push_back(std::to_string(count) + " " + kind +
                           " pages are not named by any usage map");
  }
  return report;
}

int RunJettool(const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err) {
  auto usage = [&]() {
    err << "usage: jettool info|tables|dump|export|check FILE [TABLE] "
           "[--system] [--types] [--password P]\n"
           "       jettool compact SOURCE DEST [--password P]\n"
           "       jettool generate OUT [options] (jettool generate for "
           "the list)\n";
    return kExitUsage;
  };
  std::vector<std::string> pos;
  std::string password;
  bool system = false;
  bool types = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--password") {
      if (i + 1 >= args.size()) return usage();
      password = args[++i];
    } else if (args[i] == "--system") {
      system = true;
    } else if (args[i] == "--types") {
      types = true;
    } else if (args[i].rfind("--", 0) == 0) {
      return usage();
    } else {
      pos.push_back(args[i]);
    }
  }
  if (pos.size() < 2) return usage();
  if (pos[0] == "compact") return RunCompactCommand(pos, password, out, err);
  const std::string& cmd = pos[0];
  const bool known = cmd == "info" || cmd == "tables" || cmd == "dump" ||
                     cmd == "export" || cmd == "check";
  if (!known) return usage();
  if ((cmd == "export") != (pos.size() == 3) || pos.size() > 3) return usage();

  auto db = OpenFor(pos[1], password);
  if (!db.ok()) {
    err << pos[1] << ": " << db.status().ToString() << "\n";
    return kExitError;
  }
  Status st;
  if (cmd == "info") {
    st = WriteInfo(**db, out);
  } else if (cmd == "tables") {
    for (const auto& t : (*db)->Tables(system)) out << t.name << "\n";
  } else if (cmd == "dump") {
    st = WriteDump(**db, DumpOptions{system}, out);
  } else if (cmd == "export") {
    st = WriteCsv(**db, pos[2], types, out);
  } else {
    auto report = CheckDatabase(**db);
    if (!report.ok()) {
      st = report.status();
    } else {
      for (const auto& note : report->notes) out << "note: " << note << "\n";
      for (const auto& p : report->problems) {
        out << "problem: " << p.what;
        if (p.page) out << " [page " << *p.page << "]";
        out << "\n";
      }
      out << report->tables_checked << " tables, " << report->rows_checked
          << " rows, " << report->indexes_checked << " indexes ("
          << report->index_entries_checked << " entries, "
          << report->index_keys_compared << " keys re-encoded, "
          << report->index_keys_not_encodable << " not encodable) checked, "
          << report->problems.size() << " problems\n";
      return report->problems.empty() ? kExitOk : kExitProblems;
    }
  }
  if (!st.ok()) {
    err << pos[1] << ": " << st.ToString() << "\n";
    return kExitError;
  }
  return kExitOk;
}

}  // namespace hvq::tools
