// The `compact` subcommand; see jettool_compact.h.
#include "tools/jettool_compact.h"

#include "jet/compact.h"
#include "platform/file_ops.h"
#include "tools/jettool_lib.h"

namespace hvq::tools {

int RunCompactCommand(const std::vector<std::string>& positional,
                      const std::string& password, std::ostream& out,
                      std::ostream& err) {
  if (positional.size() != 3) {
    err << "usage: jettool compact SOURCE DEST [--password P]\n";
    return kExitUsage;
  }
  jet::CompactOptions options;
  options.source_path = positional[1];
  options.password = password;
  jet::CompactStats stats;
  Status st = CreateFileAtomically(
      positional[2], CreateMode::kMustNotExist,
      [&](int fd) { return jet::CompactDatabase(options, fd, &stats); });
  if (!st.ok()) {
    err << positional[1] << ": " << st.ToString() << "\n";
    return kExitError;
  }
  out << "pages: " << stats.source_pages << " -> " << stats.output_pages
      << "\ntables: " << stats.tables
      << "\nfree pages emptied: " << stats.pages_emptied
      << "\ndeleted rows dropped: " << stats.deleted_rows_dropped
      << "\ndata page bytes reclaimed: " << stats.bytes_reclaimed
      << "\nrow counts corrected: " << stats.row_counts_corrected
      << "\nAutoNumber seeds reset: " << stats.autonumber_seeds_reset
      << "\noverflow rows brought home: " << stats.overflow_rows_resolved
      << "\nindexes rebuilt: " << stats.indexes_rebuilt
      << "\nindex pages freed: " << stats.index_pages_freed
      << "\ndata pages moved down: " << stats.data_pages_moved << "\n";
  return kExitOk;
}

}  // namespace hvq::tools
