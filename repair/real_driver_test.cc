// The whole chain on real databases: RepairDatabase -> unixODBC's installer
// -> our Access driver's setup library -> the compactor, in a program folder
// whose name holds blanks and non-ASCII characters. Content is compared with
// `jettool dump`; `jettool check` must pass on every repaired file. Also:
// a compaction killed at any moment leaves the source intact and the
// destination absent or complete.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "repair/repair_database.h"
#include "repair/testing/child_process.h"
#include "tools/testing/dump_compare.h"

namespace hvq {
namespace {

using testing::InChild;
using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteFile;

std::string CorpusDir() {
  const char* env = std::getenv("HVQ_CORPUS_DIR");
  return env ? env : HVQ_DEFAULT_CORPUS_DIR;
}

std::string Dump(const std::string& file) {
  int rc = 0;
  std::string out = RunCommand(
      ShellQuote(HVQ_JETTOOL) + " dump " + ShellQuote(file) + " 2>&1", &rc);
  // Rows compared in any order: the copy stores them in primary-key order.
  return rc == 0 ? tools::testing::RowOrderFree(out)
                 : "<dump failed: " + out + ">";
}

class CaptureSink : public MessageSink {
 public:
  void ShowMessage(std::string_view text) override { shown.append(text); }
  std::string shown;
};

TEST(RealDriver, RepairsCorpusCopiesInPlace) {
  const std::string corpus = CorpusDir();
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "corpus not found at " << corpus << " (set HVQ_CORPUS_DIR)";
  }
  struct Case {
    const char* file;
    bool repaired;  // false: the driver must refuse (another password)
  };
  const std::vector<Case> cases = {
      {"database-js-adodb/test.mdb", true},  // deleted and overflow rows
      {"activemdb/multi_line.mdb", true},    // mostly free pages
      {"jackcess/testV1997.mdb", true},      // Jet 3
      {"jackcessencrypt/db-enc.mdb", true},  // RC4 page encryption
      {"access_parser/test.mdb", true},      // long values, indexes
      {"mdb-reader/V2003_with-password.mdb", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir tmp;
    const std::string sysini = tmp.MakeSubdir("odbc");
    const std::string folder = tmp.MakeSubdir("My Data 資料 \xa5\x5c");
    WriteFile(sysini + "odbcinst.ini",
              std::string("[Microsoft Access Driver (*.mdb)]\nDriver=") +
                  HVQ_ACCESS_SETUP + "\nSetup=" + HVQ_ACCESS_SETUP + "\n");
    const std::string db = folder + "data.mdb";
    std::filesystem::copy_file(corpus + "/" + c.file, db);
    const std::string original = *ReadFile(db);
    const std::string dump_before = Dump(db);

    std::string shown = InChild([&] {
      ::setenv("ODBCSYSINI", sysini.c_str(), 1);
      CaptureSink sink;
      RepairEnvironment env = DefaultRepairEnvironment(sink);
      env.exe_name = [&] { return Result<std::string>(folder + "HVQ_Repair"); };
      RepairDatabase(env);
      return sink.shown;
    });

    EXPECT_FALSE(testing::Exists(folder + "data_repair.mdb"));
    const std::string after = ReadFile(db).value_or("");
    if (c.repaired) {
      EXPECT_EQ(shown, kSuccessMessage);
      EXPECT_LE(after.size(), original.size());
      EXPECT_EQ(Dump(db), dump_before);
      int rc = 0;
      std::string report = RunCommand(
          ShellQuote(HVQ_JETTOOL) + " check " + ShellQuote(db) + " 2>&1", &rc);
      EXPECT_EQ(rc, 0) << report;
    } else {
      EXPECT_EQ(shown, kFailureMessage);
      EXPECT_TRUE(after == original) << "refused database was changed";
    }
    // Only data.mdb is left in the program folder.
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      (void)e;
      ++entries;
    }
    EXPECT_EQ(entries, 1u);
  }
}

TEST(RealDriver, KilledCompactionLeavesSourceAndNoPartialDestination) {
  TempDir tmp;
  const std::string src = tmp.path() + "source.mdb";
  int rc = 0;
  std::string out =
      RunCommand(ShellQuote(HVQ_JETTOOL) + " generate " + ShellQuote(src) +
                     " --rows 8000 --indexes 2 --deleted 0.4 --seed 7"
                     " 2>&1",
                 &rc);
  ASSERT_EQ(rc, 0) << out;
  const std::string source_bytes = *ReadFile(src);

  // The complete result, for comparison.
  const std::string reference = tmp.path() + "reference.mdb";
  const auto start = std::chrono::steady_clock::now();
  out = RunCommand(ShellQuote(HVQ_JETTOOL) + " compact " + ShellQuote(src) +
                       " " + ShellQuote(reference) + " 2>&1",
                   &rc);
  ASSERT_EQ(rc, 0) << out;
  const std::string reference_bytes = *ReadFile(reference);
  const long full_ms =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count());

  // Kill points spread from the start to past the end of a whole run.
  std::vector<long> delays;
  for (int k = 0; k <= 10; ++k) delays.push_back(full_ms * k / 8);

  int absent = 0, complete = 0;
  for (long delay_ms : delays) {
    SCOPED_TRACE(delay_ms);
    const std::string dst_dir =
        tmp.MakeSubdir("run" + std::to_string(delay_ms));
    const std::string dst = dst_dir + "out.mdb";
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(HVQ_JETTOOL, "jettool", "compact", src.c_str(), dst.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);

    EXPECT_TRUE(*ReadFile(src) == source_bytes) << "source changed";
    if (testing::Exists(dst)) {
      ++complete;
      EXPECT_TRUE(*ReadFile(dst) == reference_bytes) << "partial destination";
    } else {
      ++absent;
    }
  }
  // Timing decides which runs finish; report the mix.
  std::printf(
      "compaction %ld ms; killed runs: %d without destination, %d "
      "complete\n",
      full_ms, absent, complete);
}

}  // namespace
}  // namespace hvq
