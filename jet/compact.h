// Compaction: writes a fresh copy of a Jet 3 / Jet 4 database.
//
// The copy has the source's version, page size, code page, sort order,
// password and encryption key; page 0 is carried over byte for byte. Every
// object of the catalog is carried (user and system tables, queries,
// relationships, properties, access entries). Pages keep their numbers
// (except table data pages moved down, below), so references stay valid:
// each data page is repacked (the
// bytes of deleted rows are dropped and live rows lie back to back; row
// numbers are kept, deleted slots stay as empty slots or, after the last
// live row, leave the row-offset table; overflow rows move
// back into the slot that lists them where its page has room), free pages are
// written empty and free pages at the end are left out, so the copy is
// never larger than the source. Stale row counts are corrected and
// AutoNumber seeds set to the largest live value. Before anything is
// written the whole source is read (definitions, usage maps, index trees,
// rows, long values); damage found there refuses the compaction.
//
// Every index tree whose usage map is inline is rebuilt from its live
// entries (entries of deleted rows dropped, pages packed) into its own pages,
// the root staying in place; pages it no longer needs become free. Table
// data pages move down into free pages where every reference to them can be
// rewritten (inline usage maps, all of the table's indexes rebuilt, no
// unresolved overflow row, no usage-map record on the page), so the file
// ends sooner; the global usage map records every page freed or taken.
//
// Every live memo/OLE value stored outside its row is written again into
// fresh, densely packed LVAL pages (one run of pages per column, taken from
// the lowest free pages and old LVAL pages); the rows' references and the
// columns' long-value usage maps are rewritten; old LVAL pages left over
// become free. This is done only where it saves a page, so a compacted file
// compacts to itself. Pages nothing in the file reaches (LVAL pages of
// deleted values, abandoned pages) are marked free and written empty.
//
// Not done (yet): moving table definitions and index pages, so free pages
// remain in the middle (written empty) below the last table definition; writing
// rows in primary-key order; regenerating index keys from row values; changing
// the sort order (a requested order other than the source's is ignored: the
// copy keeps the source's, which its indexes are built for).
//
// Contract: CompactDatabase reads the source through its own read-only
// descriptor (it never writes the source) and writes the copy through
// `output_fd`, an empty file opened for reading and writing that the caller
// owns and commits. On any error the content written so far is meaningless
// and the caller discards it. Memory is bounded by the page cache, a few
// bits per page, one long value, the entries of one index at a time and
// the rewritten LVAL pages (held until the copy is written).
#ifndef HVQ_JET_COMPACT_H_
#define HVQ_JET_COMPACT_H_

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace hvq::jet {

struct CompactOptions {
  std::string source_path;
  // Checked against the database password; a database without a password
  // accepts any.
  std::string password;
  // The collating order asked for, by name ("General"); empty keeps the
  // source's. At present the source's order is always kept (see above).
  std::string sort_order;
  // Ask for an encrypted copy. An encrypted source always gives an
  // encrypted copy with the same key.
  bool encrypt = false;
};

// What one compaction did.
struct CompactStats {
  uint32_t source_pages = 0;
  uint32_t output_pages = 0;
  uint32_t tables = 0;                // table definitions read
  uint32_t pages_emptied = 0;         // free pages written empty
  uint32_t deleted_rows_dropped = 0;  // deleted slots whose bytes were dropped
  uint64_t bytes_reclaimed = 0;       // free space gained on data pages
  uint32_t row_counts_corrected = 0;
  uint32_t autonumber_seeds_reset = 0;
  uint32_t overflow_rows_resolved = 0;  // rows brought back to their slot
  uint32_t indexes_rebuilt = 0;
  uint32_t index_pages_freed = 0;
  uint32_t data_pages_moved = 0;        // moved down into free pages
  uint32_t long_values_rewritten = 0;   // memo/OLE values stored afresh
  uint32_t long_value_pages_freed = 0;  // old LVAL pages left free
  uint32_t orphan_pages_freed = 0;      // pages nothing reached, marked free
};

// Writes the compacted copy of options.source_path to `output_fd`.
// Errors: NotFound (no source), NotSupported (not a Jet 3/4 file, or a
// request the engine cannot carry out), PermissionDenied (wrong password),
// Corruption (damage beyond repair), IoError (read or write failure).
Status CompactDatabase(const CompactOptions& options, int output_fd,
                       CompactStats* stats = nullptr);

}  // namespace hvq::jet

#endif  // HVQ_JET_COMPACT_H_
