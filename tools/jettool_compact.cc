// The `compact` subcommand; see jettool_compact.h.
#include "tools/jettool_compact.h"

#include <chrono>

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
  // Long runs report progress on stderr, at most every two seconds.
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  options.progress = [&](const jet::CompactProgress& p) {
    const auto now = Clock::now();
    if (now - last < std::chrono::seconds(2)) return;
    last = now;
    err << "compacting: table " << p.table << " of " << p.tables << ", "
        << p.rows << " rows copied\n"
        << std::flush;
  };
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
      << "\ntables on new pages: " << stats.tables_renumbered
      << "\ntables in primary-key order: " << stats.tables_in_key_order
      << "\nrows: " << stats.rows
      << "\nrow counts corrected: " << stats.row_counts_corrected
      << "\nAutoNumber seeds reset: " << stats.autonumber_seeds_reset
      << "\noverflow rows resolved: " << stats.overflow_rows_resolved
      << "\nindexes rebuilt: " << stats.indexes_rebuilt
      << "\nindexes with carried keys: " << stats.indexes_carried
      << "\nlong values rewritten: " << stats.long_values_rewritten
      << "\nobject Ids rewritten: " << stats.ids_rewritten << "\n";
  return kExitOk;
}

}  // namespace hvq::tools
