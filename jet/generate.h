// Deterministic test-database generator on top of DatabaseBuilder.
//
// Generated tables are named T1..Tn with the columns
//   ID Long (autonumber), Code Long, Name Text(value_size), Amount Money,
//   Ratio Double, Created DateTime, Flag Boolean, Small Integer, Tiny Byte,
//   Score Single, Uid GUID, Bin Binary(16), Notes Memo, Blob OLE
// and up to six indexes, in this order: the primary key on ID, Code,
// Created, Flag, Uid, Name. Every value derives from the seed, the table
// number and the row number only (GeneratedRow), so a test can recompute
// what a file holds. Notes carries memo values of every storage kind
// (inline, one LVAL row, LVAL chain, empty) on rows 0..3 and on a few
// later rows; Blob on row 4 and on a few later rows.
// A `deleted` fraction of rows is deleted right after insertion, and a
// scratch table is filled and dropped, leaving free pages in the file.
#ifndef HVQ_JET_GENERATE_H_
#define HVQ_JET_GENERATE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/database_builder.h"
#include "jet/value.h"
#include "platform/status.h"

namespace hvq::jet {

struct GenerateOptions {
  uint64_t rows = 100;  // per table
  uint32_t tables = 1;
  uint32_t value_size = 20;  // characters of Name (<= 255)
  uint32_t indexes = 1;      // 0..6
  double deleted = 0;        // fraction of rows deleted after insertion
  std::string password;
  uint32_t database_key = 0;  // != 0: encrypted pages
  JetVersion version = JetVersion::kJet4;
  uint64_t seed = 1;
};

struct GenerateSummary {
  uint64_t rows_inserted = 0;
  uint64_t rows_deleted = 0;
  std::vector<uint64_t> live_rows;  // per table
};

// The table layout generated for `options`.
TableSpec GeneratedTableSpec(const GenerateOptions& options, uint32_t table);

// Values of row `row` (0-based) of table `table` (1-based): what
// Generate() inserts, ID included (row + 1).
std::vector<Value> GeneratedRow(const GenerateOptions& options, uint32_t table,
                                uint64_t row);

// True when Generate() deletes that row.
bool GeneratedRowDeleted(const GenerateOptions& options, uint32_t table,
                         uint64_t row);

// Writes the database to `path`.
Result<GenerateSummary> Generate(const std::string& path,
                                 const GenerateOptions& options);

}  // namespace hvq::jet

#endif  // HVQ_JET_GENERATE_H_
