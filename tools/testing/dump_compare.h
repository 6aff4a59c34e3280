// Test helper: a `jettool dump` text with the row lines of each table in
// sorted order, for comparing a compacted copy (rows stored in key order)
// with its source.
#ifndef HVQ_TOOLS_TESTING_DUMP_COMPARE_H_
#define HVQ_TOOLS_TESTING_DUMP_COMPARE_H_

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace hvq::tools::testing {

inline std::string RowOrderFree(const std::string& dump) {
  std::istringstream in(dump);
  std::string line, out;
  std::vector<std::string> rows;
  auto flush = [&]() {
    std::sort(rows.begin(), rows.end());
    for (const std::string& r : rows) out += r + "\n";
    rows.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("  row ", 0) == 0) {
      rows.push_back(line);
      continue;
    }
    flush();
    out += line + "\n";
  }
  flush();
  return out;
}

}  // namespace hvq::tools::testing

#endif  // HVQ_TOOLS_TESTING_DUMP_COMPARE_H_
