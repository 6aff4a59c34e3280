// jettool entry point; the commands live in jettool_lib.
#include <iostream>
#include <string>
#include <vector>

#include "tools/jettool_lib.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return hvq::tools::RunJettool(args, std::cout, std::cerr);
}
