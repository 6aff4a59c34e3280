// `jettool compact SOURCE DEST [--password P]`: writes a compacted copy of
// SOURCE to DEST (which must not exist) through the engine's compactor,
// committing DEST only when complete, and prints what was done.
#ifndef HVQ_TOOLS_JETTOOL_COMPACT_H_
#define HVQ_TOOLS_JETTOOL_COMPACT_H_

#include <ostream>
#include <string>
#include <vector>

namespace hvq::tools {

// `positional` is {"compact", SOURCE, DEST}. Returns a jettool exit code.
int RunCompactCommand(const std::vector<std::string>& positional,
                      const std::string& password, std::ostream& out,
                      std::ostream& err);

}  // namespace hvq::tools

#endif  // HVQ_TOOLS_JETTOOL_COMPACT_H_
