// Compaction: writes a fresh copy of a Jet 3 / Jet 4 database.
//
// The copy has the source's version, page size, code page, sort order,
// password and encryption key. Page 0 is carried over byte for byte except
// for the fields the engine owns. Every object of the catalog is carried
// (user and system tables, queries, relationships, properties, access
// entries); tables keep only their live rows, packed into fresh pages, and
// every index is rebuilt from those rows. The copy has no free pages.
//
// Contract: CompactDatabase reads the source through its own read-only
// descriptor (it never writes the source) and writes the copy through
// `output_fd`, an empty file opened for writing that the caller owns and
// commits. On any error the content written so far is meaningless and the
// caller discards it.
#ifndef HVQ_JET_COMPACT_H_
#define HVQ_JET_COMPACT_H_

#include <string>

#include "platform/status.h"

namespace hvq::jet {

struct CompactOptions {
  std::string source_path;
  // Checked against the database password; a database without a password
  // accepts any.
  std::string password;
  // The collating order asked for, by name ("General"); empty keeps the
  // source's. Only the source's own order can be kept at present.
  std::string sort_order;
  // Ask for an encrypted copy. An encrypted source always gives an
  // encrypted copy with the same key.
  bool encrypt = false;
};

// Writes the compacted copy of options.source_path to `output_fd`.
// Errors: NotFound (no source), NotSupported (not a Jet 3/4 file, or a
// request the engine cannot carry out), PermissionDenied (wrong password),
// Corruption (damage beyond repair), IoError (read or write failure).
Status CompactDatabase(const CompactOptions& options, int output_fd);

}  // namespace hvq::jet

#endif  // HVQ_JET_COMPACT_H_
