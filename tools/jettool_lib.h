// Command logic of `jettool`, kept in a library so tests can drive it.
//
//   jettool info FILE            header facts, page-type histogram, free
//                                pages, deleted row slots
//   jettool dump FILE [--system] every user (and system) table's schema
//                                and rows, canonical and deterministic
//   jettool export FILE TABLE [--types]
//                                one table as CSV with a header line (and
//                                a line of column type names)
//   jettool tables FILE [--system]  table names, one per line
//   jettool check FILE           structural integrity; exit 1 and a list
//                                of problems when any is found
// Every command takes `--password P`. Exit codes: 0 success, 1 problems
// found (check), 2 usage error, 3 the database could not be read.
//
// Other engineers add subcommands by registering them in RunJettool.
#ifndef HVQ_TOOLS_JETTOOL_LIB_H_
#define HVQ_TOOLS_JETTOOL_LIB_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "platform/status.h"

namespace hvq::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitError = 3;

// Runs one command line (args exclude the program name).
int RunJettool(const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err);

struct DumpOptions {
  bool include_system = false;
};

// Writes the info report.
Status WriteInfo(jet::Database& db, std::ostream& out);

// Writes the canonical dump: per table (sorted by name) its columns in
// column-number order, its indexes, and its rows as CSV lines sorted
// bytewise. Nulls are empty fields; empty strings are "".
Status WriteDump(jet::Database& db, const DumpOptions& options,
                 std::ostream& out);

// Writes one table as CSV: header of column names (column-number order),
// then rows in storage order, values as in jet::FormatValue.
Status WriteCsv(jet::Database& db, const std::string& table, std::ostream& out);

// One structural problem found by check.
struct Problem {
  std::string what;
  std::optional<uint32_t> page;
};

struct CheckReport {
  std::vector<Problem> problems;   // each makes `check` fail
  std::vector<std::string> notes;  // facts worth knowing, not failures
  uint32_t tables_checked = 0;
  uint64_t rows_checked = 0;
  uint32_t indexes_checked = 0;
  uint64_t index_entries_checked = 0;
  uint64_t index_keys_compared = 0;
  uint64_t index_keys_not_encodable = 0;
};

// Checks the database: every page owned at most once (tables, indexes,
// long values, usage maps, free list) and of the type its owner expects;
// usage maps agree with the pages' own tdef pointers; every live row and
// long value decodes; tdef row counts match the live rows (stale counts are
// problems); and every index holds one entry per live row in key order,
// pointing at that row, with the key the row's values encode to (see
// jet/index_check.h).
Result<CheckReport> CheckDatabase(jet::Database& db);

// CSV field quoting used by dump and export.
std::string CsvField(const jet::Value& v);

}  // namespace hvq::tools

#endif  // HVQ_TOOLS_JETTOOL_LIB_H_
