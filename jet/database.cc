// Database open, table listing and decoded row scans.
#include "jet/database.h"

#include <algorithm>

#include "jet/row.h"

namespace hvq::jet {

Result<std::unique_ptr<Database>> Database::Open(const std::string& path,
                                                 const OpenOptions& options) {
  HVQ_ASSIGN_OR_RETURN(std::unique_ptr<PageFile> file,
                       PageFile::Open(path, options.cache_pages));
  return Finish(std::move(file), options);
}

Result<std::unique_ptr<Database>> Database::OpenBytes(
    std::vector<uint8_t> bytes, const OpenOptions& options) {
  HVQ_ASSIGN_OR_RETURN(
      std::unique_ptr<PageFile> file,
      PageFile::FromBytes(std::move(bytes), options.cache_pages));
  return Finish(std::move(file), options);
}

Result<std::unique_ptr<Database>> Database::Finish(
    std::unique_ptr<PageFile> file, const OpenOptions& options) {
  if (!VerifyPassword(file->header(), options.password)) {
    return Status::PermissionDenied("wrong database password");
  }
  std::unique_ptr<Database> db(new Database(std::move(file)));
  HVQ_ASSIGN_OR_RETURN(db->catalog_, ReadCatalog(*db->file_));
  return db;
}

std::vector<TableInfo> Database::Tables(bool include_system) const {
  std::vector<TableInfo> out;
  for (const CatalogEntry& e : catalog_) {
    if (!e.is_table()) continue;
    if (e.is_system_table() && !include_system) continue;
    out.push_back(TableInfo{e.name, e.tdef_page(), e.is_system_table(), e});
  }
  std::sort(out.begin(), out.end(), [](const TableInfo& a, const TableInfo& b) {
    return a.name < b.name;
  });
  return out;
}

Result<TableDef> Database::ReadTableDef(uint32_t tdef_page) {
  return jet::ReadTableDef(*file_, tdef_page);
}

Result<TableDef> Database::ReadTableDef(std::string_view name) {
  for (const CatalogEntry& e : catalog_) {
    if (e.is_table() && e.name == name) return ReadTableDef(e.tdef_page());
  }
  return Status::NotFound("no table named '" + std::string(name) + "'");
}

Result<std::vector<Value>> Database::DecodeRow(const TableDef& def, Bytes row,
                                               const RowLocation& where) {
  HVQ_ASSIGN_OR_RETURN(std::vector<ColumnSlice> slices,
                       CrackRow(format(), def, row, where.data_page, 0));
  std::vector<Value> values;
  values.reserve(slices.size());
  for (const ColumnSlice& s : slices) {
    auto v = DecodeSlice(*file_, s, header().code_page);
    if (!v.ok()) {
      return v.status().WithContext("page " + std::to_string(where.data_page) +
                                    " row " + std::to_string(where.data_row) +
                                    " column '" + s.column->name + "'");
    }
    values.push_back(std::move(*v));
  }
  return values;
}

Status Database::ScanRows(const TableDef& def, const RowVisitor& visit) {
  Status inner;
  HVQ_RETURN_IF_ERROR(
      ScanTable(*file_, def, [&](const RowLocation& loc, Bytes row) {
        auto values = DecodeRow(def, row, loc);
        if (!values.ok()) {
          inner = values.status();
          return false;
        }
        return visit(loc, *values);
      }));
  return inner;
}

}  // namespace hvq::jet
