// The `generate` subcommand of jettool.
#include "tools/generate_command.h"

#include <charconv>

#include "jet/generate.h"
#include "tools/jettool_lib.h"

namespace hvq::tools {
namespace {

template <typename T>
bool ParseNumber(const std::string& s, T* out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

int RunGenerateCommand(const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err) {
  auto usage = [&]() {
    err << "usage: jettool generate OUT [--rows N] [--tables T] "
           "[--value-size B] [--indexes K] [--deleted F] [--password P] "
           "[--encrypt KEY] [--jet 3|4] [--seed S]\n";
    return kExitUsage;
  };
  jet::GenerateOptions o;
  std::string path;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) {
      if (!path.empty()) return usage();
      path = a;
      continue;
    }
    if (i + 1 >= args.size()) return usage();
    const std::string& v = args[++i];
    bool ok = true;
    if (a == "--rows") {
      ok = ParseNumber(v, &o.rows);
    } else if (a == "--tables") {
      ok = ParseNumber(v, &o.tables);
    } else if (a == "--value-size") {
      ok = ParseNumber(v, &o.value_size) && o.value_size >= 1 &&
           o.value_size <= 255;
    } else if (a == "--indexes") {
      ok = ParseNumber(v, &o.indexes);
    } else if (a == "--deleted") {
      ok = ParseNumber(v, &o.deleted);
    } else if (a == "--password") {
      o.password = v;
    } else if (a == "--encrypt") {
      ok = ParseNumber(v, &o.database_key) && o.database_key != 0;
    } else if (a == "--seed") {
      ok = ParseNumber(v, &o.seed);
    } else if (a == "--jet") {
      if (v == "3") {
        o.version = jet::JetVersion::kJet3;
      } else if (v == "4") {
        o.version = jet::JetVersion::kJet4;
      } else {
        ok = false;
      }
    } else {
      ok = false;
    }
    if (!ok) return usage();
  }
  if (path.empty()) return usage();
  auto sum = jet::Generate(path, o);
  if (!sum.ok()) {
    err << path << ": " << sum.status().ToString() << "\n";
    return kExitError;
  }
  out << "wrote " << path << ": " << o.tables << " tables, "
      << sum->rows_inserted << " rows inserted, " << sum->rows_deleted
      << " deleted\n";
  return kExitOk;
}

}  // namespace hvq::tools
