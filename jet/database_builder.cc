// Database builder. See database_builder.h for the file layout.
#include "jet/database_builder.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "jet/byte_order.h"
#include "jet/catalog.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/row_writer.h"
#include "jet/streaming_index_writer.h"
#include "jet/table_def_writer.h"
#include "jet/usage_map.h"
#include "jet/usage_map_writer.h"

namespace hvq::jet {
namespace {

// Catalog ids of the standard objects every database carries.
constexpr int32_t kRootContainerId = 0x0F000000;
constexpr int32_t kTablesContainerId = 0x0F000001;
constexpr int32_t kDatabasesContainerId = 0x0F000002;
constexpr int32_t kRelationshipsContainerId = 0x0F000003;
constexpr int32_t kMSysDbId = 0x10000000;
constexpr uint32_t kSystemObjectFlags = 0x80000000u;
constexpr int kObjectTypeContainer = 3;
constexpr int kObjectTypeDatabase = 2;

// Memory for the index entries of one index before they spill to disk.
constexpr size_t kIndexSortBudget = 16u << 20;
// Column flag bit every column of real files carries.
constexpr uint8_t kColumnFlagUpdatable = 0x10;
// Every Jet 4 index in the corpus has this bit in its flags byte.
constexpr uint8_t kJet4IndexFlagBase = 0x80;
// Page 0: engine name at 4 and the run of small integers real files carry
// at the start of the masked region.
constexpr std::string_view kEngineName = "Standard Jet DB";
constexpr uint8_t kHeaderMaskedPrologue[] = {
    0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
// Jet 4 files carry u32 1620 and "4.0" right after the masked region.
constexpr uint32_t kJet4TrailerValue = 0x654;
constexpr std::string_view kJet4TrailerText = "4.0";

bool IsVariable(ColumnType t) {
  return t == ColumnType::kText || t == ColumnType::kBinary ||
         t == ColumnType::kMemo || t == ColumnType::kOle;
}

Value Date(double d) {
  Value x;
  x.kind = Value::Kind::kDateTime;
  x.d = d;
  return x;
}

TableSpec MSysObjectsSpec() {
  using T = ColumnType;
  TableSpec s;
  s.name = "MSysObjects";
  s.columns = {{"Id", T::kLong},
               {"ParentId", T::kLong},
               {"Name", T::kText},
               {"Type", T::kInt},
               {"DateCreate", T::kDateTime},
               {"DateUpdate", T::kDateTime},
               {"Owner", T::kBinary},
               {"Flags", T::kLong},
               {"Database", T::kMemo},
               {"Connect", T::kMemo},
               {"ForeignName", T::kText},
               {"RmtInfoShort", T::kBinary},
               {"RmtInfoLong", T::kOle},
               {"Lv", T::kOle},
               {"LvProp", T::kOle},
               {"LvModule", T::kOle},
               {"LvExtra", T::kOle}};
  for (auto& c : s.columns) c.compressed_unicode = false;
  s.indexes = {{"ParentIdName", {"ParentId", "Name"}, false, true},
               {"Id", {"Id"}, true, true}};
  return s;
}

TableSpec MSysACEsSpec() {
  using T = ColumnType;
  TableSpec s;
  s.name = "MSysACEs";
  s.columns = {{"ObjectId", T::kLong},
               {"SID", T::kBinary},
               {"ACM", T::kLong},
               {"FInheritable", T::kBool}};
  return s;
}

TableSpec MSysQueriesSpec() {
  using T = ColumnType;
  TableSpec s;
  s.name = "MSysQueries";
  s.columns = {{"ObjectId", T::kLong}, {"Attribute", T::kByte},
               {"Order", T::kBinary},  {"Name1", T::kText},
               {"Name2", T::kText},    {"Expression", T::kMemo},
               {"Flag", T::kInt},      {"LvExtra", T::kOle}};
  for (auto& c : s.columns) c.compressed_unicode = false;
  return s;
}

TableSpec MSysRelationshipsSpec() {
  using T = ColumnType;
  TableSpec s;
  s.name = "MSysRelationships";
  s.columns = {{"szRelationship", T::kText},
               {"grbit", T::kLong},
               {"ccolumn", T::kLong},
               {"icolumn", T::kLong},
               {"szObject", T::kText},
               {"szColumn", T::kText},
               {"szReferencedObject", T::kText},
               {"szReferencedColumn", T::kText}};
  for (auto& c : s.columns) c.compressed_unicode = false;
  return s;
}

}  // namespace

struct DatabaseBuilder::Table {
  TableSpec spec;
  TableDef def;
  bool system = false;
  bool dropped = false;
  std::unique_ptr<DataPageBuilder> open;
  uint32_t open_page = 0;
  std::vector<uint32_t> data_pages;
  std::vector<uint32_t> pages_with_room;
  // One long-value writer per memo/OLE column, by position in def.columns.
  std::map<size_t, std::unique_ptr<LongValueWriter>> lv;
  // Index entries per real index, sorted in bounded memory.
  std::vector<std::unique_ptr<IndexEntrySorter>> index_entries;
  std::vector<std::vector<uint32_t>> index_pages;  // per real index
  std::unordered_set<uint32_t> deleted;            // page << 8 | row
  uint32_t live_rows = 0;
  uint32_t last_autonumber = 0;
};

DatabaseBuilder::~DatabaseBuilder() = default;

Result<uint32_t> DatabaseBuilder::AllocatePage() {
  if (next_page_ >= kIndexMaxDataPage) {
    return Status::InvalidArgument("database would exceed the page limit");
  }
  return next_page_++;
}

Result<std::unique_ptr<DatabaseBuilder>> DatabaseBuilder::Create(
    const std::string& path, const DatabaseOptions& options) {
  std::unique_ptr<DatabaseBuilder> b(new DatabaseBuilder());
  b->options_ = options;
  b->format_ = &FormatFor(options.version);
  if (options.fill_percent < 10 || options.fill_percent > 100) {
    return Status::InvalidArgument("fill_percent must be 10..100");
  }
  HVQ_ASSIGN_OR_RETURN(
      b->out_, PageWriter::Create(path, *b->format_, options.database_key));
  b->next_page_ = 2;  // header and global usage map
  TableSpec catalog = MSysObjectsSpec();
  {
    // The catalog's name index needs text keys; leave the catalog without
    // indexes where the key encoder cannot make them.
    KeyColumnSpec probe;
    probe.type = ColumnType::kText;
    probe.version = options.version;
    probe.sort_order = static_cast<uint16_t>(options.sort_order & 0xFFFF);
    std::vector<uint8_t> key;
    if (!AppendTextKey(CollationFor(probe), "Tables", true, &key).ok()) {
      catalog.indexes.clear();
    }
  }
  for (const TableSpec& s :
       {catalog, MSysACEsSpec(), MSysQueriesSpec(), MSysRelationshipsSpec()}) {
    HVQ_RETURN_IF_ERROR(b->AddTableInternal(s, /*system=*/true).status());
  }
  return b;
}

Result<DatabaseBuilder::TableId> DatabaseBuilder::AddTable(
    const TableSpec& spec) {
  if (finished_) return Status::InvalidArgument("builder already finished");
  for (const auto& t : tables_) {
    if (!t->dropped && t->spec.name == spec.name) {
      return Status::AlreadyExists("table '" + spec.name + "' exists");
    }
  }
  return AddTableInternal(spec, /*system=*/false);
}

Result<DatabaseBuilder::TableId> DatabaseBuilder::AddTableInternal(
    const TableSpec& spec, bool system) {
  const Format& f = *format_;
  if (spec.name.empty() || spec.columns.empty()) {
    return Status::InvalidArgument("a table needs a name and columns");
  }
  auto t = std::make_unique<Table>();
  t->spec = spec;
  t->system = system;
  HVQ_ASSIGN_OR_RETURN(uint32_t tdef_page, AllocatePage());
  TableDef& d = t->def;
  d.version = f.version;
  d.first_page = tdef_page;
  d.pages = {tdef_page};
  d.table_type = system ? kTableTypeSystem : kTableTypeUser;
  d.autonumber_flag = 1;
  uint16_t fixed_offset = 0;
  uint16_t var_index = 0;
  const bool ucs2 = f.text_encoding == TextEncoding::kUcs2;
  for (size_t i = 0; i < spec.columns.size(); ++i) {
    const ColumnSpec& cs = spec.columns[i];
    ColumnDef c;
    c.type = cs.type;
    c.name = cs.name;
    c.number = static_cast<uint16_t>(i);
    c.flags = kColumnFlagUpdatable | kColumnFlagNullable;
    if (cs.autonumber) {
      if (cs.type != ColumnType::kLong) {
        return Status::InvalidArgument("autonumber column '" + cs.name +
                                       "' must be Long");
      }
      c.flags |= kColumnFlagAutoLong;
    }
    if (IsVariable(cs.type)) {
      c.var_index = var_index++;
      if (cs.type == ColumnType::kText) {
        uint16_t chars = cs.length == 0 ? 255 : cs.length;
        if (chars > 255) {
          return Status::InvalidArgument("text column '" + cs.name +
                                         "' longer than 255");
        }
        c.length = static_cast<uint16_t>(ucs2 ? 2 * chars : chars);
      } else if (cs.type == ColumnType::kBinary) {
        c.length = cs.length == 0 ? 255 : cs.length;
        if (c.length > 255) {
          return Status::InvalidArgument("binary column '" + cs.name +
                                         "' longer than 255");
        }
      }
    } else {
      // A Bool column records length 1 though its value is the null-mask
      // bit; the row writer has no BigInt encoding.
      const uint16_t size = cs.type == ColumnType::kBool
                                ? 1
                                : static_cast<uint16_t>(FixedDataSize(cs.type));
      if (size == 0 || cs.type == ColumnType::kBigInt) {
        return Status::InvalidArgument("column '" + cs.name +
                                       "' has an unsupported type");
      }
      c.flags |= kColumnFlagFixed;
      c.length = size;
      c.fixed_offset = fixed_offset;
      if (cs.type != ColumnType::kBool) fixed_offset += size;
    }
    if (c.is_text()) {
      c.sort_order = static_cast<uint16_t>(options_.sort_order & 0xFFFF);
      if (f.column_code_page_offset != 0) c.code_page = options_.code_page;
      if (ucs2 && cs.compressed_unicode) {
        c.ext_flags |= kColumnExtFlagCompressedUnicode;
      }
    }
    if (cs.type == ColumnType::kNumeric) {
      c.precision = cs.precision;
      c.scale = cs.scale;
    }
    if (c.is_long_value()) {
      d.var_column_usage.push_back(VarColumnUsage{c.number, {}, {}});
    }
    for (const ColumnDef& other : d.columns) {
      if (other.name == c.name) {
        return Status::InvalidArgument("duplicate column '" + c.name + "'");
      }
    }
    d.columns.push_back(std::move(c));
  }
  d.max_columns = static_cast<uint16_t>(d.columns.size());
  d.var_column_count = var_index;
  for (size_t i = 0; i < spec.indexes.size(); ++i) {
    const IndexSpec& is = spec.indexes[i];
    RealIndexDef r;
    for (const std::string& name : is.columns) {
      const ColumnDef* c = d.FindColumn(std::string_view(name));
      if (c == nullptr) {
        return Status::InvalidArgument("index '" + is.name +
                                       "' names unknown column '" + name + "'");
      }
      if (c->is_long_value()) {
        return Status::InvalidArgument("memo/OLE columns cannot be indexed");
      }
      r.columns.push_back(IndexColumn{c->number, true});
    }
    r.flags = (is.unique || is.primary) ? kIndexFlagUnique : 0;
    if (f.version == JetVersion::kJet4) r.flags |= kJet4IndexFlagBase;
    d.real_indexes.push_back(std::move(r));
    LogicalIndexDef l;
    l.name = is.name;
    l.index_number = static_cast<uint32_t>(i);
    l.real_index = static_cast<uint32_t>(i);
    l.type = is.primary ? kIndexTypePrimary : kIndexTypeNormal;
    d.logical_indexes.push_back(std::move(l));
  }
  // Probe the key encoder once so unsupported index columns fail early.
  for (const RealIndexDef& r : d.real_indexes) {
    HVQ_RETURN_IF_ERROR(KeySpecsFor(f, d, r).status());
  }
  for (size_t i = 0; i < d.real_indexes.size(); ++i) {
    t->index_entries.push_back(
        std::make_unique<IndexEntrySorter>(kIndexSortBudget));
  }
  t->index_pages.resize(d.real_indexes.size());
  for (size_t i = 0; i < d.columns.size(); ++i) {
    if (!d.columns[i].is_long_value()) continue;
    t->lv[i] = std::make_unique<LongValueWriter>(
        f, [this]() { return AllocatePage(); },
        [this](uint32_t page, Bytes bytes) {
          return out_->WritePage(page, bytes);
        });
  }
  tables_.push_back(std::move(t));
  return tdef_page;
}

Result<const TableDef*> DatabaseBuilder::Definition(TableId table) const {
  for (const auto& t : tables_) {
    if (t->def.first_page == table) return &t->def;
  }
  return Status::NotFound("no table " + std::to_string(table));
}

Result<DatabaseBuilder::Table*> DatabaseBuilder::LiveTable(TableId table) {
  Table* found = nullptr;
  for (auto& t : tables_) {
    if (t->def.first_page == table && !t->dropped) found = t.get();
  }
  if (found == nullptr) {
    return Status::NotFound("no table " + std::to_string(table));
  }
  return found;
}

Status DatabaseBuilder::FlushDataPage(Table& t) {
  if (t.open == nullptr) return Status::Ok();
  std::vector<uint8_t> page = t.open->Build();
  if (t.open->Room() >= format_->page_size / 4) {
    t.pages_with_room.push_back(t.open_page);
  }
  t.open.reset();
  return out_->WritePage(t.open_page, page);
}

Result<RowId> DatabaseBuilder::InsertRow(TableId table,
                                         std::span<const Value> values,
                                         LongValueStorage storage) {
  if (finished_) return Status::InvalidArgument("builder already finished");
  HVQ_ASSIGN_OR_RETURN(Table* const tp, LiveTable(table));
  Table& t = *tp;
  const TableDef& d = t.def;
  const Format& f = *format_;
  if (values.size() != d.columns.size()) {
    return Status::InvalidArgument(
        "table '" + t.spec.name + "' has " + std::to_string(d.columns.size()) +
        " columns, row has " + std::to_string(values.size()) + " values");
  }
  std::vector<Value> row_values(values.begin(), values.end());
  std::vector<RowField> fields(d.columns.size());
  TextOptions text{options_.code_page, true};
  for (size_t i = 0; i < d.columns.size(); ++i) {
    const ColumnDef& c = d.columns[i];
    Value& v = row_values[i];
    if (c.is_autonumber() && v.is_null()) {
      v = Value::Int(static_cast<int64_t>(++t.last_autonumber));
    } else if (c.is_autonumber() && v.kind == Value::Kind::kInt &&
               v.i > static_cast<int64_t>(t.last_autonumber)) {
      t.last_autonumber = static_cast<uint32_t>(v.i);
    }
    if (c.is_long_value()) {
      if (v.is_null()) continue;
      std::vector<uint8_t> data;
      if (c.type == ColumnType::kMemo) {
        if (v.kind != Value::Kind::kText) {
          return Status::InvalidArgument("memo column '" + c.name +
                                         "' needs text");
        }
        // Compressed memo text is limited to 1024 characters.
        bool compress = c.compressed_unicode() && v.s.size() <= 1024;
        data = EncodeTextBytes(f, v.s, compress, options_.code_page);
      } else {
        if (v.kind != Value::Kind::kBinary) {
          return Status::InvalidArgument("OLE column '" + c.name +
                                         "' needs binary");
        }
        data.assign(v.s.begin(), v.s.end());
      }
      HVQ_ASSIGN_OR_RETURN(fields[i], t.lv[i]->Store(data, storage));
    } else {
      HVQ_ASSIGN_OR_RETURN(fields[i], EncodeFieldValue(f, c, v, text));
    }
  }
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> row, EncodeRow(f, d, fields));
  // Keys first: a value the key encoder refuses leaves the table unchanged.
  std::vector<std::vector<uint8_t>> keys(d.real_indexes.size());
  for (size_t i = 0; i < d.real_indexes.size(); ++i) {
    HVQ_ASSIGN_OR_RETURN(keys[i],
                         EncodeIndexKey(f, d, d.real_indexes[i], row_values));
  }
  const uint32_t reserve =
      f.page_size * static_cast<uint32_t>(100 - options_.fill_percent) / 100;
  if (t.open != nullptr &&
      (!t.open->Fits(row.size()) || t.open->Room() < row.size() + reserve)) {
    HVQ_RETURN_IF_ERROR(FlushDataPage(t));
  }
  if (t.open == nullptr) {
    HVQ_ASSIGN_OR_RETURN(t.open_page, AllocatePage());
    t.open = std::make_unique<DataPageBuilder>(f, d.first_page);
    t.data_pages.push_back(t.open_page);
  }
  HVQ_ASSIGN_OR_RETURN(uint8_t slot, t.open->AddRow(row));
  RowId id{t.open_page, slot};
  for (size_t i = 0; i < d.real_indexes.size(); ++i) {
    HVQ_RETURN_IF_ERROR(t.index_entries[i]->Add(keys[i], id.page, id.row));
  }
  ++t.live_rows;
  ++rows_written_;
  return id;
}

Status DatabaseBuilder::DeleteRow(TableId table, RowId row) {
  HVQ_ASSIGN_OR_RETURN(Table* const tp, LiveTable(table));
  Table& t = *tp;
  const uint32_t key = (row.page << 8) | row.row;
  if (!t.deleted.insert(key).second) {
    return Status::InvalidArgument("row already deleted");
  }
  if (t.open != nullptr && row.page == t.open_page) {
    HVQ_RETURN_IF_ERROR(t.open->SetRowFlags(row.row, kRowDeletedMask));
  } else {
    // Data pages are allocated in ascending order.
    if (!std::binary_search(t.data_pages.begin(), t.data_pages.end(),
                            row.page)) {
      return Status::InvalidArgument("page " + std::to_string(row.page) +
                                     " is not a data page of the table");
    }
    std::vector<uint8_t> page(format_->page_size);
    HVQ_RETURN_IF_ERROR(out_->ReadPage(row.page, page));
    HVQ_RETURN_IF_ERROR(MarkRowDeleted(*format_, page, row.row));
    HVQ_RETURN_IF_ERROR(out_->WritePage(row.page, page));
  }
  --t.live_rows;
  return Status::Ok();
}

Status DatabaseBuilder::DropTable(TableId table) {
  for (auto& t : tables_) {
    if (t->def.first_page != table || t->dropped) continue;
    if (t->system) return Status::InvalidArgument("cannot drop a system table");
    HVQ_RETURN_IF_ERROR(FlushDataPage(*t));
    // The tdef page is written so the freed page holds what it held.
    t->dropped = true;
    free_pages_.insert(t->def.first_page);
    for (uint32_t p : t->data_pages) free_pages_.insert(p);
    for (auto& [i, w] : t->lv) {
      HVQ_RETURN_IF_ERROR(w->Flush());
      for (uint32_t p : w->pages()) free_pages_.insert(p);
    }
    HVQ_ASSIGN_OR_RETURN(
        std::vector<uint8_t> bytes,
        EncodeTableDefBytes(*format_, t->def, options_.code_page));
    if (bytes.size() <= format_->page_size) {
      HVQ_ASSIGN_OR_RETURN(
          auto pages,
          BuildTableDefPages(*format_, std::move(bytes), t->def.first_page,
                             [this]() { return AllocatePage(); }));
      HVQ_RETURN_IF_ERROR(
          out_->WritePage(pages[0].page_number, pages[0].bytes));
    } else {
      std::vector<uint8_t> empty(format_->page_size, 0);
      HVQ_RETURN_IF_ERROR(out_->WritePage(t->def.first_page, empty));
    }
    t->index_entries.clear();
    return Status::Ok();
  }
  return Status::NotFound("no table " + std::to_string(table));
}

Status DatabaseBuilder::WriteCatalog() {
  Table& cat = *tables_[0];
  const double now = options_.creation_date;
  auto add = [&](int32_t id, int32_t parent, const std::string& name, int type,
                 uint32_t flags) -> Status {
    std::vector<Value> v(cat.def.columns.size());
    v[0] = Value::Int(id);
    v[1] = Value::Int(parent);
    v[2] = Value::Text(name);
    v[3] = Value::Int(type);
    v[4] = Date(now);
    v[5] = Date(now);
    v[7] = Value::Int(static_cast<int32_t>(flags));
    return InsertRow(cat.def.first_page, v).status();
  };
  HVQ_RETURN_IF_ERROR(add(kTablesContainerId, kRootContainerId, "Tables",
                          kObjectTypeContainer, kSystemObjectFlags));
  HVQ_RETURN_IF_ERROR(add(kDatabasesContainerId, kRootContainerId, "Databases",
                          kObjectTypeContainer, kSystemObjectFlags));
  HVQ_RETURN_IF_ERROR(add(kRelationshipsContainerId, kRootContainerId,
                          "Relationships", kObjectTypeContainer,
                          kSystemObjectFlags));
  HVQ_RETURN_IF_ERROR(add(kMSysDbId, kDatabasesContainerId, "MSysDb",
                          kObjectTypeDatabase, kSystemObjectFlags));
  for (const auto& t : tables_) {
    if (t->dropped) continue;
    HVQ_RETURN_IF_ERROR(add(static_cast<int32_t>(t->def.first_page),
                            kTablesContainerId, t->spec.name, kObjectTypeTable,
                            t->system ? kSystemObjectFlags : 0));
  }
  return Status::Ok();
}

Status DatabaseBuilder::BuildIndexes(Table& t) {
  const Format& f = *format_;
  for (size_t i = 0; i < t.def.real_indexes.size(); ++i) {
    const bool unique = t.def.real_indexes[i].unique();
    StreamingIndexWriter writer(
        f, t.def.first_page, [this]() { return AllocatePage(); },
        [this](uint32_t page, Bytes bytes) {
          return out_->WritePage(page, bytes);
        });
    std::vector<uint8_t> previous;
    bool have_previous = false;
    uint32_t count = 0;
    HVQ_RETURN_IF_ERROR(
        t.index_entries[i]->Drain([&](const IndexEntry& e) -> Status {
          if (t.deleted.count((e.data_page << 8) | e.data_row) != 0) {
            return Status::Ok();
          }
          if (unique && have_previous && e.key == previous) {
            return Status::InvalidArgument("duplicate key in unique index '" +
                                           t.def.logical_indexes[i].name +
                                           "' of table '" + t.spec.name + "'");
          }
          previous = e.key;
          have_previous = true;
          ++count;
          return writer.Add(e);
        }));
    HVQ_ASSIGN_OR_RETURN(t.def.real_indexes[i].first_page, writer.Finish());
    t.index_pages[i] = writer.pages();
    t.def.real_indexes[i].slot_row_count = count;
  }
  return Status::Ok();
}

Status DatabaseBuilder::WriteUsageMapsAndTdefs() {
  const Format& f = *format_;
  UsageMapRecordSet records(
      f, [this]() { return AllocatePage(); },
      [this](uint32_t page, Bytes bytes) {
        return out_->WritePage(page, bytes);
      });

  struct Pending {
    Table* t;
    size_t owned, free;
    std::vector<std::pair<size_t, size_t>> lv;  // used, free per LV column
    std::vector<size_t> index;
  };
  std::vector<Pending> pending;
  for (auto& tp : tables_) {
    Table& t = *tp;
    if (t.dropped) continue;
    Pending p{&t, 0, 0, {}, {}};
    HVQ_ASSIGN_OR_RETURN(p.owned, records.Add(t.data_pages));
    HVQ_ASSIGN_OR_RETURN(p.free, records.Add(t.pages_with_room));
    for (auto& [i, w] : t.lv) {
      HVQ_ASSIGN_OR_RETURN(size_t used, records.Add(w->pages()));
      std::vector<uint32_t> last;
      if (!w->pages().empty()) last.push_back(w->pages().back());
      HVQ_ASSIGN_OR_RETURN(size_t fr, records.Add(last));
      p.lv.push_back({used, fr});
    }
    for (const auto& pages : t.index_pages) {
      HVQ_ASSIGN_OR_RETURN(size_t idx, records.Add(pages));
      p.index.push_back(idx);
    }
    pending.push_back(std::move(p));
  }
  HVQ_ASSIGN_OR_RETURN(std::vector<RowPointer> where, records.Place());

  for (Pending& p : pending) {
    TableDef& d = p.t->def;
    d.owned_pages = where[p.owned];
    d.free_pages = where[p.free];
    for (size_t k = 0; k < p.lv.size(); ++k) {
      d.var_column_usage[k].used_pages = where[p.lv[k].first];
      d.var_column_usage[k].free_pages = where[p.lv[k].second];
    }
    for (size_t k = 0; k < p.index.size(); ++k) {
      d.real_indexes[k].usage_map = where[p.index[k]];
    }
    d.row_count = p.t->live_rows;
    d.next_autonumber = p.t->last_autonumber;
    HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes,
                         EncodeTableDefBytes(f, d, options_.code_page));
    HVQ_ASSIGN_OR_RETURN(
        std::vector<TableDefPage> pages,
        BuildTableDefPages(f, std::move(bytes), d.first_page,
                           [this]() { return AllocatePage(); }));
    for (const TableDefPage& tp : pages) {
      HVQ_RETURN_IF_ERROR(out_->WritePage(tp.page_number, tp.bytes));
    }
  }
  return Status::Ok();
}

Status DatabaseBuilder::WriteGlobalUsageMap() {
  return ::hvq::jet::WriteGlobalUsageMap(
      *format_, [this]() { return next_page_; },
      [this]() { return AllocatePage(); }, free_pages_,
      [this](uint32_t page, Bytes bytes) {
        return out_->WritePage(page, bytes);
      });
}

Status DatabaseBuilder::WriteHeader() {
  const Format& f = *format_;
  std::vector<uint8_t> page(f.page_size, 0);
  page[1] = 0x01;
  std::copy(kEngineName.begin(), kEngineName.end(), page.begin() + 4);
  page[kHeaderVersionOffset] =
      f.version == JetVersion::kJet4 ? uint8_t{1} : uint8_t{0};
  std::copy(std::begin(kHeaderMaskedPrologue), std::end(kHeaderMaskedPrologue),
            page.begin() + kHeaderMaskedOffset);
  if (f.version == JetVersion::kJet4) {
    const uint32_t after = kHeaderMaskedOffset + f.header_masked_size;
    StoreU32Le(&page[after], kJet4TrailerValue);
    std::copy(kJet4TrailerText.begin(), kJet4TrailerText.end(),
              page.begin() + after + 4);
  }
  HVQ_RETURN_IF_ERROR(ToggleHeaderMask(f, page));
  Header h;
  h.format = &f;
  h.version_byte = page[kHeaderVersionOffset];
  h.code_page = options_.code_page;
  h.sort_order = options_.sort_order;
  h.database_key = options_.database_key;
  h.creation_date =
      f.header_creation_date_offset != 0 ? options_.creation_date : 0;
  h.password = options_.password;
  HVQ_RETURN_IF_ERROR(EncodeHeader(h, page));
  return out_->WritePage(0, page);
}

Status DatabaseBuilder::Finish() {
  if (finished_) return Status::InvalidArgument("builder already finished");
  HVQ_RETURN_IF_ERROR(WriteCatalog());
  for (auto& t : tables_) {
    if (t->dropped) continue;
    HVQ_RETURN_IF_ERROR(FlushDataPage(*t));
    for (auto& [i, w] : t->lv) HVQ_RETURN_IF_ERROR(w->Flush());
  }
  finished_ = true;
  for (auto& t : tables_) {
    if (t->dropped) continue;
    HVQ_RETURN_IF_ERROR(BuildIndexes(*t));
  }
  HVQ_RETURN_IF_ERROR(WriteUsageMapsAndTdefs());
  HVQ_RETURN_IF_ERROR(WriteGlobalUsageMap());
  HVQ_RETURN_IF_ERROR(WriteHeader());
  return out_->Finish();
}

}  // namespace hvq::jet
