// Compaction of a Jet database into a fresh file; see compact.h.
#include "jet/compact.h"

namespace hvq::jet {

Status CompactDatabase(const CompactOptions& options, int output_fd) {
  (void)output_fd;
  return Status::NotSupported(
      "compaction not available: " + options.source_path + " was not changed");
}

}  // namespace hvq::jet
