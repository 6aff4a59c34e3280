// Catalog reader: decodes the Id, ParentId, Name, Type and Flags columns of
// every live MSysObjects row.
#include "jet/catalog.h"

#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/table_def.h"
#include "jet/table_scan.h"

namespace hvq::jet {

Result<std::vector<CatalogEntry>> ReadCatalog(PageFile& file) {
  HVQ_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(file, kCatalogTdefPage));
  int id_col = -1, parent_col = -1, name_col = -1, type_col = -1,
      flags_col = -1;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const std::string& n = def.columns[i].name;
    if (n == "Id") id_col = static_cast<int>(i);
    if (n == "ParentId") parent_col = static_cast<int>(i);
    if (n == "Name") name_col = static_cast<int>(i);
    if (n == "Type") type_col = static_cast<int>(i);
    if (n == "Flags") flags_col = static_cast<int>(i);
  }
  if (id_col < 0 || parent_col < 0 || name_col < 0 || type_col < 0 ||
      flags_col < 0) {
    return Status::Corruption(
        "catalog table lacks one of Id, ParentId, Name, Type, Flags",
        kCatalogTdefPage, 0);
  }
  std::vector<CatalogEntry> out;
  Status inner;
  const uint16_t cp = file.header().code_page;
  HVQ_RETURN_IF_ERROR(
      ScanTable(file, def, [&](const RowLocation& loc, Bytes row) {
        auto slices = CrackRow(file.format(), def, row, loc.data_page, 0);
        if (!slices.ok()) {
          inner = slices.status().WithContext("catalog row");
          return false;
        }
        auto get = [&](int col) {
          return DecodeSlice(file, (*slices)[col], cp);
        };
        CatalogEntry e;
        for (int col : {id_col, parent_col, name_col, type_col, flags_col}) {
          auto v = get(col);
          if (!v.ok()) {
            inner = v.status().WithContext("catalog row");
            return false;
          }
          if (col == id_col) e.id = static_cast<int32_t>(v->i);
          if (col == parent_col) e.parent_id = static_cast<int32_t>(v->i);
          if (col == name_col) e.name = v->s;
          if (col == type_col) e.type = static_cast<int>(v->i);
          if (col == flags_col) e.flags = static_cast<uint32_t>(v->i);
        }
        out.push_back(std::move(e));
        return true;
      }));
  HVQ_RETURN_IF_ERROR(inner);
  return out;
}

}  // namespace hvq::jet
