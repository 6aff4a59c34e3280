// jettool entry point; the commands live in jettool_lib.
#include <iostream>
#include <string>
#include <vector>

#include "tools/generate_command.h"
#include "tools/jettool_lib.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "generate") {
    return hvq::tools::RunGenerateCommand(args, std::cout, std::cerr);
  }
  return hvq::tools::RunJettool(args, std::cout, std::cerr);
}
