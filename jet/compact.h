// Compaction: writes a fresh copy of a Jet 3 / Jet 4 database.
//
// The copy has the source's version, page size, code page, sort order,
// password and encryption key; page 0 is carried over byte for byte (an
// unencrypted source asked to be encrypted gets a new database key there).
// Every table of the catalog is carried, system tables included, so every
// object the catalog lists (tables, queries, relationships, properties,
// access entries) comes along. Layout of the copy:
//
//   page 0         the source's header page
//   page 1         global usage map (rows 0 and 1)
//   pages 2 ..     every table definition, back to back: the catalog's
//                  first (its Id, 2, never changes), then the others in the
//                  order of their source pages
//   then, table by table in the same order:
//                  data pages (live rows packed densely, in primary-key
//                  order where the table has one, overflow rows resolved,
//                  deleted rows gone), the LVAL pages of its memo/OLE values
//                  (one run per column, packed densely, interleaved with the
//                  data pages as rows are written) and its index trees
//   last           the pages holding usage-map records (and, for large
//                  tables, their map pages) and, for large files, the
//                  global map's own map pages.
// No page is free: the file ends at its last used page.
//
// Rows are copied byte for byte; only long-value references (new row
// pointers) and catalog Ids change. A table's catalog Id is its definition
// page, so every column known to hold object Ids (MSysObjects Id and
// ParentId, MSysACEs ObjectId, the navigation-pane tables' object Ids) and
// every foreign-key reference in a definition is rewritten to the new page.
// Ids in those columns that name no object (left by deleted tables) but lie
// in the range of page numbers are moved above any page a file can have, so
// that they never come to name a table that now sits on that page.
// Every index is rebuilt with one entry per live row and the new row
// pointers: keys are regenerated from the row values (jet/index_key.h) and,
// where they cannot be (a collation we do not encode), carried over from
// the source's entries. Row counts are set to the live rows, AutoNumber
// seeds to the largest live value.
//
// The sort order is the source's: a different requested order is ignored,
// since the index keys are built for the source's.
//
// Contract: CompactDatabase reads the source through its own read-only
// descriptor (it never writes the source) and writes the copy through
// `output_fd`, an empty file opened for reading and writing that the caller
// owns and commits. Any read error (damage) ends the compaction; the
// content written so far is then meaningless and the caller discards it.
// Memory is bounded by the page cache, one open page per memo/OLE column,
// one long value, an 8 MB sort budget per index of the table being copied
// plus one for its primary-key order (entries beyond it spill to a
// temporary file) and, only for a table with an index whose keys may have
// to be carried, 8 bytes per live row (old to new row pointers); a
// primary key whose keys cannot be regenerated is checked with a bit per
// possible row slot of the source (16 MB for a 2 GB file).
#ifndef HVQ_JET_COMPACT_H_
#define HVQ_JET_COMPACT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/status.h"

namespace hvq::jet {

// Where a running compaction is: the table being copied (1-based) of all
// tables, and live rows copied so far over all tables.
struct CompactProgress {
  uint32_t table = 0;
  uint32_t tables = 0;
  uint64_t rows = 0;
};

struct CompactOptions {
  std::string source_path;
  // Checked against the database password; a database without a password
  // accepts any.
  std::string password;
  // The collating order asked for, by name ("General"); the source's is
  // kept (see above).
  std::string sort_order;
  // Ask for an encrypted copy. An encrypted source always gives an
  // encrypted copy with the same key.
  bool encrypt = false;
  // Called at the start of each table and every 65,536 rows.
  std::function<void(const CompactProgress&)> progress;
};

// What one compaction did.
struct CompactStats {
  uint32_t source_pages = 0;
  uint32_t output_pages = 0;
  uint32_t tables = 0;               // table definitions copied
  uint32_t tables_renumbered = 0;    // definition (and Id) on a new page
  uint32_t tables_in_key_order = 0;  // rows written in primary-key order
  uint64_t rows = 0;                 // live rows copied
  uint32_t row_counts_corrected = 0;
  uint32_t autonumber_seeds_reset = 0;
  uint32_t overflow_rows_resolved = 0;  // rows stored away from their slot
  uint32_t indexes_rebuilt = 0;         // keys regenerated from values
  uint32_t indexes_carried = 0;         // keys carried from the source
  uint64_t long_values_rewritten = 0;   // memo/OLE values stored afresh
  uint64_t ids_rewritten = 0;           // object Ids changed in rows
};

// Writes the compacted copy of options.source_path to `output_fd`.
// Errors: NotFound (no source), NotSupported (not a Jet 3/4 file, or a
// request the engine cannot carry out), PermissionDenied (wrong password),
// Corruption (damage beyond repair), IoError (read or write failure).
Status CompactDatabase(const CompactOptions& options, int output_fd,
                       CompactStats* stats = nullptr);

}  // namespace hvq::jet

#endif  // HVQ_JET_COMPACT_H_
