// `jettool compact` over the corpus: every file compacts to a copy that
// `check` passes and that dumps exactly like the source; refusals leave no
// destination.
#include "tools/jettool_compact.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "jet/testdata/core_corpus.h"
#include "platform/testing/temp_dir.h"
#include "tools/jettool_lib.h"
#include "tools/testing/dump_compare.h"
#include "tools/testing/jettool_run.h"

namespace hvq::tools {
namespace {

using jet::testing::CorpusFiles;
using jet::testing::HaveCorpus;

using tools::testing::Jettool;
using tools::testing::RowOrderFree;
using tools::testing::ToolRun;

// The lines of a dump that name each table with its live row count.
std::vector<std::string> TableLines(const std::string& dump) {
  std::vector<std::string> out;
  std::istringstream in(dump);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("table ", 0) == 0) out.push_back(line);
  }
  return out;
}

TEST(JettoolCompact, CompactedCopiesPassCheckAndDumpAlike) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  int files = 0;
  for (const auto& cf : CorpusFiles()) {
    SCOPED_TRACE(cf.path);
    hvq::testing::TempDir dir;
    const std::string out = dir.path() + "copy.mdb";
    ToolRun r =
        Jettool({"compact", cf.full_path, out, "--password", cf.password});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("pages: "), std::string::npos);
    ToolRun check = Jettool({"check", out, "--password", cf.password});
    EXPECT_EQ(check.code, kExitOk) << check.out << check.err;
    // User tables hold the same rows (now in key order); system tables
    // keep their row counts (their object Ids follow moved tables).
    ToolRun before = Jettool({"dump", cf.full_path, "--password", cf.password});
    ToolRun after = Jettool({"dump", out, "--password", cf.password});
    ASSERT_EQ(before.code, kExitOk);
    EXPECT_TRUE(RowOrderFree(before.out) == RowOrderFree(after.out))
        << "dumps differ";
    ToolRun system_before =
        Jettool({"dump", cf.full_path, "--system", "--password", cf.password});
    ToolRun system_after =
        Jettool({"dump", out, "--system", "--password", cf.password});
    EXPECT_EQ(TableLines(system_before.out), TableLines(system_after.out));
    ++files;
  }
  EXPECT_GT(files, 100);
}

TEST(JettoolCompact, RefusalsLeaveNoDestination) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  hvq::testing::TempDir dir;
  const std::string source =
      jet::testing::CorpusDir() + "/ucanaccess/password.mdb";
  hvq::testing::WriteFile(dir.path() + "taken.mdb", "x");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string dest;
  };
  const Case cases[] = {
      {{"compact", source}, kExitUsage, ""},
      {{"compact", source, dir.path() + "a.mdb", "--password", "bad"},
       kExitError,
       dir.path() + "a.mdb"},
      {{"compact", dir.path() + "none.mdb", dir.path() + "b.mdb"},
       kExitError,
       dir.path() + "b.mdb"},
  };
  for (const Case& c : cases) {
    ToolRun r = Jettool(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (!c.dest.empty()) {
      EXPECT_FALSE(std::filesystem::exists(c.dest));
    }
  }
  ToolRun r = Jettool({"compact", source, dir.path() + "taken.mdb",
                       "--password", "ucanaccess"});
  EXPECT_EQ(r.code, kExitError);
  EXPECT_EQ(hvq::testing::ReadFile(dir.path() + "taken.mdb"), "x");
}

}  // namespace
}  // namespace hvq::tools
