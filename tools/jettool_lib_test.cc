#include "tools/jettool_lib.h"

#include <gtest/gtest.h>

#include <map>

#include "jet/testdata/core_corpus.h"
#include "tools/testing/jettool_run.h"

namespace hvq::tools {
namespace {

using jet::testing::CorpusFiles;
using jet::testing::HaveCorpus;

using tools::testing::Jettool;
using tools::testing::ToolRun;

TEST(JettoolTest, UsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"info"},
      {"frobnicate", "x.mdb"},
      {"export", "x.mdb"},
      {"dump", "x.mdb", "--bogus"},
      {"info", "x.mdb", "--password"}};
  for (const auto& args : bad) EXPECT_EQ(Jettool(args).code, kExitUsage);
  ToolRun r = Jettool({"info", "/nonexistent.mdb"});
  EXPECT_EQ(r.code, kExitError);
  EXPECT_NE(r.err.find("not found"), std::string::npos) << r.err;
}

TEST(JettoolTest, CsvFieldQuoting) {
  jet::Value text;
  text.kind = jet::Value::Kind::kText;
  text.s = "a \"b\",c";
  EXPECT_EQ(CsvField(text), "\"a \"\"b\"\",c\"");
  text.s = "";
  EXPECT_EQ(CsvField(text), "\"\"");
  EXPECT_EQ(CsvField(jet::Value::Null()), "");
  jet::Value n;
  n.kind = jet::Value::Kind::kInt;
  n.i = -5;
  EXPECT_EQ(CsvField(n), "-5");
}

// Check passes on every corpus file, or reports only the stale row counts
// the file really has; MANIFEST's noted stale counts are all found.
TEST(JettoolCorpusTest, CheckFindsOnlyRealProblems) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  int clean = 0, stale_files = 0;
  for (const auto& c : CorpusFiles()) {
    SCOPED_TRACE(c.path);
    auto db = jet::Database::Open(c.full_path, {.password = c.password});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto report = CheckDatabase(**db);
    ASSERT_TRUE(report.ok()) << report.status().ToString();
    EXPECT_GE(report->tables_checked, 4u);  // the four system tables at least
    for (const auto& p : report->problems) {
      EXPECT_NE(p.what.find("stale row count"), std::string::npos) << p.what;
    }
    if (report->problems.empty()) ++clean;
    if (c.notes.find("STALE TDEF row count: Table1") != std::string::npos) {
      ++stale_files;
      bool found = false;
      for (const auto& p : report->problems) {
        if (p.what.find("\"Table1\" has stale row count: definition says 274, "
                        "live rows 275") != std::string::npos) {
          found = true;
        }
      }
      EXPECT_TRUE(found);
    }
  }
  EXPECT_EQ(stale_files, 2);
  EXPECT_GE(clean, 90);
}

TEST(JettoolCorpusTest, DumpIsDeterministicAndContentBased) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  const std::string dir = jet::testing::CorpusDir() + "/";
  // Same logical content, different physical form (and password).
  ToolRun a = Jettool({"dump", dir + "mdb-reader/V2003_no-password.mdb"});
  ToolRun b = Jettool({"dump", dir + "mdb-reader/V2003_with-password.mdb",
                       "--password", "password"});
  ASSERT_EQ(a.code, kExitOk) << a.err;
  ASSERT_EQ(b.code, kExitOk) << b.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_NE(a.out.find("row 1,\"One\""), std::string::npos) << a.out;
  ToolRun again = Jettool({"dump", dir + "mdb-reader/V2003_no-password.mdb"});
  EXPECT_EQ(again.out, a.out);
  ToolRun sys =
      Jettool({"dump", dir + "mdb-reader/V2003_no-password.mdb", "--system"});
  EXPECT_NE(sys.out.find("table \"MSysObjects\" system"), std::string::npos);
  // The same tables written by Jet 3 and by Jet 4 dump alike.
  ToolRun jet3 = Jettool({"dump", dir + "jackcess/testV1997.mdb"});
  ToolRun jet4 = Jettool({"dump", dir + "jackcess/testV2003.mdb"});
  ASSERT_EQ(jet3.code, kExitOk);
  EXPECT_EQ(jet3.out, jet4.out);
  EXPECT_NE(jet3.out.find("index \"PrimaryKey\" primary unique"),
            std::string::npos);
  ToolRun wrong = Jettool({"dump", dir + "mdb-reader/V2003_with-password.mdb"});
  EXPECT_EQ(wrong.code, kExitError);
  EXPECT_NE(wrong.err.find("password"), std::string::npos);
}

TEST(JettoolCorpusTest, InfoMatchesManifest) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  for (const auto& c : CorpusFiles()) {
    SCOPED_TRACE(c.path);
    ToolRun r = Jettool({"info", c.full_path, "--password", c.password});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("free pages: " + std::to_string(c.free_pages) + "\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("deleted row slots: " +
                         std::to_string(c.deleted_slots) + "\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("pages: " + std::to_string(c.pages) + "\n"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace hvq::tools
