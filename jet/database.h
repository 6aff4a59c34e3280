// Database: the reading entry point of the engine.
//
//   auto db = Database::Open(path, {.password = "secret"});
//   for (const TableInfo& t : (*db)->Tables(/*include_system=*/false)) {
//     auto def = (*db)->ReadTableDef(t.tdef_page);
//     (*db)->ScanRows(*def, [](const RowLocation& loc,
//                              const std::vector<Value>& values) {
//       return true;  // keep going
//     });
//   }
//
// Open checks the password (a database without one accepts any). Rows are
// streamed page by page in the order of the table's usage map; overflow
// pointer rows are followed to their target (bounded), and target rows are
// reported once, at the position of the pointer row. Nothing is cached but
// the page cache and the catalog.
#ifndef HVQ_JET_DATABASE_H_
#define HVQ_JET_DATABASE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/catalog.h"
#include "jet/page_file.h"
#include "jet/table_def.h"
#include "jet/table_scan.h"
#include "jet/value.h"
#include "platform/status.h"

namespace hvq::jet {

struct OpenOptions {
  std::string password;
  size_t cache_pages = PageFile::kDefaultCachePages;
};

struct TableInfo {
  std::string name;
  uint32_t tdef_page = 0;
  bool system = false;
  CatalogEntry entry;
};

class Database {
 public:
  static Result<std::unique_ptr<Database>> Open(const std::string& path,
                                                const OpenOptions& options);
  static Result<std::unique_ptr<Database>> OpenBytes(
      std::vector<uint8_t> bytes, const OpenOptions& options);

  PageFile& pages() { return *file_; }
  const Header& header() const { return file_->header(); }
  const Format& format() const { return file_->format(); }
  const std::vector<CatalogEntry>& catalog() const { return catalog_; }

  // Tables sorted by name (byte order); system tables only on request.
  std::vector<TableInfo> Tables(bool include_system) const;
  Result<TableDef> ReadTableDef(uint32_t tdef_page);
  Result<TableDef> ReadTableDef(std::string_view name);

  // Calls `visit` with the raw bytes of every live row; returning false
  // stops the scan early (still OK). See jet/table_scan.h.
  Status ScanRawRows(const TableDef& def, const RawRowVisitor& visit) {
    return ScanTable(*file_, def, visit);
  }

  // Calls `visit` with every live row decoded, values in def.columns order.
  using RowVisitor =
      std::function<bool(const RowLocation&, const std::vector<Value>&)>;
  Status ScanRows(const TableDef& def, const RowVisitor& visit);

  // Decodes one row's bytes (values in def.columns order).
  Result<std::vector<Value>> DecodeRow(const TableDef& def, Bytes row,
                                       const RowLocation& where);

 private:
  explicit Database(std::unique_ptr<PageFile> file) : file_(std::move(file)) {}
  static Result<std::unique_ptr<Database>> Finish(
      std::unique_ptr<PageFile> file, const OpenOptions& options);

  std::unique_ptr<PageFile> file_;
  std::vector<CatalogEntry> catalog_;
};

}  // namespace hvq::jet

#endif  // HVQ_JET_DATABASE_H_
