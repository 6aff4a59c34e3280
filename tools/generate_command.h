// `jettool generate OUT [--rows N] [--tables T] [--value-size B]
//  [--indexes K] [--deleted F] [--password P] [--encrypt KEY] [--jet 3|4]
//  [--seed S]`: writes a deterministic test database (see jet/generate.h).
#ifndef HVQ_TOOLS_GENERATE_COMMAND_H_
#define HVQ_TOOLS_GENERATE_COMMAND_H_

#include <ostream>
#include <string>
#include <vector>

namespace hvq::tools {

// `args` starts with "generate". Returns the jettool exit code.
int RunGenerateCommand(const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err);

}  // namespace hvq::tools

#endif  // HVQ_TOOLS_GENERATE_COMMAND_H_
