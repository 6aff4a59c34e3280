// Hermetic test databases: reader, compactor and repair tests build the
// files they need in a temporary folder instead of reading the corpus.
//
//   hvq::testing::TempDir dir;
//   auto db = jet::testing::BuildFragmentedDatabase(dir.path() + "f.mdb", {});
//   // db->path is a Jet 4 file with deleted row slots, free pages, memo
//   // values of every storage kind and two indexes; db->options lets the
//   // test recompute every live row with jet::GeneratedRow.
#ifndef HVQ_JET_TESTING_FIXTURES_H_
#define HVQ_JET_TESTING_FIXTURES_H_

#include <string>

#include "jet/generate.h"
#include "platform/status.h"

namespace hvq::jet::testing {

struct FixtureOptions {
  JetVersion version = JetVersion::kJet4;
  uint64_t rows = 400;  // per table
  uint32_t tables = 2;
  uint32_t indexes = 2;  // primary key on ID, index on Code
  double deleted = 0.25;
  std::string password;
  uint32_t database_key = 0;
  uint64_t seed = 7;
};

struct Fixture {
  std::string path;
  GenerateOptions options;  // what was generated (for GeneratedRow)
  GenerateSummary summary;
};

// Writes a fragmented database (deleted rows, a dropped table's free pages)
// to `path`.
Result<Fixture> BuildFragmentedDatabase(const std::string& path,
                                        const FixtureOptions& options);

}  // namespace hvq::jet::testing

#endif  // HVQ_JET_TESTING_FIXTURES_H_
