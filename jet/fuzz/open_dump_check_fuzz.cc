// libFuzzer target: the bytes are a database file. Opens it (with and
// without a password), dumps every table including system ones, runs the
// structural check, and reads the info report. Any crash, hang or
// sanitizer report is a bug; errors are expected.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "jet/database.h"
#include "tools/jettool_lib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  hvq::jet::OpenOptions options;
  options.cache_pages = 8;
  auto db = hvq::jet::Database::OpenBytes(std::move(bytes), options);
  if (!db.ok()) return 0;
  std::ostringstream sink;
  (void)hvq::tools::WriteDump(**db, hvq::tools::DumpOptions{true}, sink);
  (void)hvq::tools::WriteInfo(**db, sink);
  (void)hvq::tools::CheckDatabase(**db);
  return 0;
}
