// Database builder: writes a new Jet 3 or Jet 4 database from code.
//
// File layout produced:
//   page 0      header (built from its documented fields, see Build0)
//   page 1      data page holding the global usage map (row 0; a set bit
//               is a free page) and a second map row as real files have
//   page 2..5   tdefs of MSysObjects, MSysACEs, MSysQueries,
//               MSysRelationships
//   then        tdefs of user tables in the order added, their data pages
//               and LVAL pages as rows stream in, then at Finish(): index
//               trees, the catalog rows, usage-map pages, continuation
//               tdef pages and reference-map pages (type 0x05).
// Catalog (MSysObjects) rows: the containers "Tables", "Databases",
// "Relationships", the "MSysDb" object and one row per table (Id = tdef
// page, ParentId = the "Tables" container, Flags 0x80000000 for system
// tables).
//
// Rows stream: each table keeps one open data page (and one open LVAL page
// per memo/OLE column); full pages go straight to disk. Index entries are
// sorted in bounded memory (jet/streaming_index_writer.h, spilling to a
// temporary file), so memory grows with the row count only by one page
// number per written page and one entry per deleted row.
//
// Deleting a row marks its slot deleted (0xC000) and leaves its bytes, as a
// real engine does; DropTable leaves the table's pages in the file and
// marks them free in the global usage map.
#ifndef HVQ_JET_DATABASE_BUILDER_H_
#define HVQ_JET_DATABASE_BUILDER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "jet/data_page_builder.h"
#include "jet/format.h"
#include "jet/index_page.h"
#include "jet/long_value_writer.h"
#include "jet/page_writer.h"
#include "jet/table_def.h"
#include "jet/value.h"
#include "platform/status.h"

namespace hvq::jet {

struct ColumnSpec {
  std::string name;
  ColumnType type = ColumnType::kLong;
  // Text: characters (default 255); Binary: bytes (default 255).
  uint16_t length = 0;
  bool autonumber = false;  // Long only: filled in when the value is null
  uint8_t precision = 18;   // Numeric only
  uint8_t scale = 0;        // Numeric only
  bool compressed_unicode = true;  // Jet 4 Text/Memo
};

struct IndexSpec {
  std::string name;
  std::vector<std::string> columns;  // all ascending
  bool primary = false;              // implies unique
  bool unique = false;
};

struct TableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
};

struct DatabaseOptions {
  JetVersion version = JetVersion::kJet4;
  uint16_t code_page = 1252;
  uint32_t sort_order = 0x409;     // General
  std::string password;            // empty = none
  uint32_t database_key = 0;       // != 0: pages are RC4-encrypted
  double creation_date = 46023.5;  // days since 1899-12-30
  // Data page fill: rows go to a fresh page once a page is this full.
  int fill_percent = 100;
};

// Where a row was stored.
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  bool operator==(const RowId&) const = default;
};

class DatabaseBuilder {
 public:
  using TableId = uint32_t;  // the table's tdef page

  // Creates `path` (truncating it) and writes the system tables' skeleton.
  static Result<std::unique_ptr<DatabaseBuilder>> Create(
      const std::string& path, const DatabaseOptions& options);
  ~DatabaseBuilder();

  const Format& format() const { return *format_; }

  // Adds a user table; returns its id (= tdef page).
  Result<TableId> AddTable(const TableSpec& spec);
  // The definition as it will be written (column numbers, offsets, ...).
  Result<const TableDef*> Definition(TableId table) const;

  // Appends a row; `values` in the order of `TableSpec::columns`. Memo/OLE values
  // use `storage` (kAuto: by size).
  Result<RowId> InsertRow(TableId table, std::span<const Value> values,
                          LongValueStorage storage = LongValueStorage::kAuto);
  // Marks a stored row deleted.
  Status DeleteRow(TableId table, RowId row);
  // Removes a table from the catalog; its pages stay, marked free.
  Status DropTable(TableId table);

  // Writes indexes, catalog, usage maps, tdefs and the header; closes the
  // file. The builder is unusable afterwards.
  Status Finish();

  uint64_t rows_written() const { return rows_written_; }

 private:
  struct Table;
  DatabaseBuilder() = default;

  Result<uint32_t> AllocatePage();
  Result<TableId> AddTableInternal(const TableSpec& spec, bool system);
  // The table `table` names unless dropped; NotFound otherwise.
  Result<Table*> LiveTable(TableId table);
  Status FlushDataPage(Table& t);
  Status WriteCatalog();
  Status BuildIndexes(Table& t);
  Status WriteUsageMapsAndTdefs();
  Status WriteGlobalUsageMap();
  Status WriteHeader();

  DatabaseOptions options_;
  const Format* format_ = nullptr;
  std::unique_ptr<PageWriter> out_;
  uint32_t next_page_ = 0;
  std::vector<std::unique_ptr<Table>> tables_;
  std::unordered_set<uint32_t> free_pages_;
  uint64_t rows_written_ = 0;
  bool finished_ = false;
};

}  // namespace hvq::jet

#endif  // HVQ_JET_DATABASE_BUILDER_H_
