// Test helper: runs jettool in process and keeps its exit code and the text
// it wrote to stdout and stderr.
#ifndef HVQ_TOOLS_TESTING_JETTOOL_RUN_H_
#define HVQ_TOOLS_TESTING_JETTOOL_RUN_H_

#include <sstream>
#include <string>
#include <vector>

#include "tools/jettool_lib.h"

namespace hvq::tools::testing {

struct ToolRun {
  int code;
  std::string out, err;
};

inline ToolRun Jettool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int code = RunJettool(args, out, err);
  return ToolRun{code, out.str(), err.str()};
}

}  // namespace hvq::tools::testing

#endif  // HVQ_TOOLS_TESTING_JETTOOL_RUN_H_
