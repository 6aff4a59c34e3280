// The repair's file handling and messages, with the installer, the program
// path and individual file-system steps substituted.
#include "repair/repair_database.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "repair/testing/fake_installer.h"

namespace hvq {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(CompactionAttributes, BytesForFolders) {
  struct Case {
    const char* name;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {"plain", "/opt/hvq/"},
      {"blanks", "/home/user/My Tools/HVQ 2005/"},
      {"utf8", "/home/使用者/資料/"},
      // 0xA5 0x5C is a Big5 character whose second byte is '\'.
      {"big5 trail byte backslash", std::string("/data/\xa5\x5c\xb3\x5c/")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string f = c.folder;
    const std::string expected =
        "COMPACT_DB=" + f + "data.mdb " + f +
        "data_repair.mdb General;PWD=pinrok36248153xuvqz;DataDirectory=" + f +
        ";MaxScanRows=20" + std::string(2, '\0');
    EXPECT_EQ(BuildCompactionAttributes(f), expected);
  }
  // The literal example of a Windows folder, byte for byte.
  static const char kExample[] =
      "COMPACT_DB=C:\\Tools\\data.mdb C:\\Tools\\data_repair.mdb "
      "General;PWD=pinrok36248153xuvqz;DataDirectory=C:\\Tools\\;"
      "MaxScanRows=20\0";
  EXPECT_EQ(BuildCompactionAttributes("C:\\Tools\\"),
            std::string(kExample, sizeof kExample));
}

TEST(OutcomeMessages, AreTheBig5Texts) {
  EXPECT_EQ(std::string(kSuccessMessage).size(), 16u);
  EXPECT_EQ(std::string(kFailureMessage).size(), 16u);
  EXPECT_EQ(*Cp950ToUtf8(kSuccessMessage), "資料庫修護成功！");
  EXPECT_EQ(*Cp950ToUtf8(kFailureMessage), "資料庫修護失敗！");
}

class RecordingSink : public MessageSink {
 public:
  void ShowMessage(std::string_view text) override { shown.emplace_back(text); }
  std::vector<std::string> shown;
};

using testing::FakeInstaller;

// The real file calls, with one step made to fail.
class FaultyFileOps : public FileOps {
 public:
  enum class Step { kNone, kSyncFile, kRename, kSyncDir };
  explicit FaultyFileOps(Step fail) : fail_(fail) {}
  bool FileExists(const std::string& p) override {
    return PosixFileOps().FileExists(p);
  }
  Status DeleteFile(const std::string& p) override {
    return PosixFileOps().DeleteFile(p);
  }
  Status SyncFile(const std::string& p) override {
    if (fail_ == Step::kSyncFile) return Status::IoError("injected fsync");
    return PosixFileOps().SyncFile(p);
  }
  Status Rename(const std::string& a, const std::string& b) override {
    if (fail_ == Step::kRename) return Status::IoError("injected rename");
    return PosixFileOps().Rename(a, b);
  }
  Status SyncDir(const std::string& d) override {
    if (fail_ == Step::kSyncDir) return Status::IoError("injected dir fsync");
    return PosixFileOps().SyncDir(d);
  }
  void CopyMode(const std::string& a, const std::string& b) override {
    PosixFileOps().CopyMode(a, b);
  }

 private:
  Step fail_;
};

constexpr char kOriginal[] = "original database bytes";
constexpr char kCompacted[] = "compacted";
constexpr char kStale[] = "stale scratch from an earlier run";

struct Fixture {
  TempDir dir;
  std::string folder = dir.MakeSubdir("prog folder 程式");
  std::string db = folder + "data.mdb";
  std::string scratch = folder + "data_repair.mdb";
  FakeInstaller installer;
  RecordingSink sink;
  FaultyFileOps files{FaultyFileOps::Step::kNone};

  RepairEnvironment Env(FileOps* ops = nullptr) {
    RepairEnvironment env;
    env.exe_name = [this] {
      return Result<std::string>(folder + "HVQ_Repair");
    };
    env.files = ops ? ops : &files;
    env.installer = &installer;
    env.messages = &sink;
    return env;
  }
  // A driver that writes `content` as the compacted file and answers `rc`.
  std::function<int()> Driver(int rc, const char* content) {
    return [this, rc, content] {
      if (content) WriteFile(scratch, content);
      return rc;
    };
  }
};

TEST(RepairDatabase, DriverResults) {
  struct Case {
    const char* name;
    int driver_result;
    bool writes_output;
    const char* expect_db;  // nullptr: data.mdb must not exist
    const char* expect_message;
  };
  const std::vector<Case> cases = {
      {"success replaces", 1, true, kCompacted, kSuccessMessage},
      {"low 16 bits are 1", 0x10001, true, kCompacted, kSuccessMessage},
      {"result 0 fails", 0, true, kOriginal, kFailureMessage},
      {"result 2 fails", 2, true, kOriginal, kFailureMessage},
      {"result -1 fails", -1, true, kOriginal, kFailureMessage},
      {"high bits only fail", 0x10000, true, kOriginal, kFailureMessage},
      {"success without output", 1, false, kOriginal, kSuccessMessage},
      {"failure without output", 0, false, kOriginal, kFailureMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    WriteFile(f.db, kOriginal);
    f.installer.behaviour =
        f.Driver(c.driver_result, c.writes_output ? kCompacted : nullptr);
    RepairDatabase(f.Env());
    EXPECT_EQ(f.installer.calls, 1);
    EXPECT_EQ(f.installer.last_request, 1);
    EXPECT_EQ(f.installer.last_driver, "Microsoft Access Driver (*.mdb)");
    EXPECT_EQ(f.installer.last_attributes, BuildCompactionAttributes(f.folder));
    EXPECT_EQ(ReadFile(f.db).value_or("<missing>"), c.expect_db);
    EXPECT_FALSE(testing::Exists(f.scratch));
    EXPECT_EQ(f.sink.shown, std::vector<std::string>{c.expect_message});
  }
}

TEST(RepairDatabase, FolderStates) {
  // Neither file: the driver fails, nothing is left behind.
  {
    Fixture f;
    f.installer.behaviour = f.Driver(0, nullptr);
    RepairDatabase(f.Env());
    EXPECT_EQ(f.installer.calls, 1);
    EXPECT_FALSE(testing::Exists(f.db));
    EXPECT_FALSE(testing::Exists(f.scratch));
    EXPECT_EQ(f.sink.shown, std::vector<std::string>{kFailureMessage});
  }
  // A stale scratch file is removed before the driver runs.
  {
    Fixture f;
    WriteFile(f.db, kOriginal);
    WriteFile(f.scratch, kStale);
    bool scratch_seen_by_driver = true;
    f.installer.behaviour = [&] {
      scratch_seen_by_driver = testing::Exists(f.scratch);
      WriteFile(f.scratch, kCompacted);
      return 1;
    };
    RepairDatabase(f.Env());
    EXPECT_FALSE(scratch_seen_by_driver);
    EXPECT_EQ(ReadFile(f.db), kCompacted);
    EXPECT_FALSE(testing::Exists(f.scratch));
    EXPECT_EQ(f.sink.shown, std::vector<std::string>{kSuccessMessage});
  }
  // A scratch file without data.mdb may be the only copy: it is kept, the
  // driver is not asked, and the run fails.
  {
    Fixture f;
    WriteFile(f.scratch, kStale);
    f.installer.behaviour = f.Driver(1, kCompacted);
    RepairDatabase(f.Env());
    EXPECT_EQ(f.installer.calls, 0);
    EXPECT_EQ(ReadFile(f.scratch), kStale);
    EXPECT_FALSE(testing::Exists(f.db));
    EXPECT_EQ(f.sink.shown, std::vector<std::string>{kFailureMessage});
  }
  // A second run after a successful one is an ordinary run.
  {
    Fixture f;
    WriteFile(f.db, kOriginal);
    f.installer.behaviour = f.Driver(1, kCompacted);
    RepairDatabase(f.Env());
    const std::string first = f.installer.last_attributes;
    f.installer.behaviour = f.Driver(1, "compacted again");
    RepairDatabase(f.Env());
    EXPECT_EQ(f.installer.calls, 2);
    EXPECT_EQ(f.installer.last_attributes, first);
    EXPECT_EQ(ReadFile(f.db), "compacted again");
    EXPECT_EQ(f.sink.shown,
              (std::vector<std::string>{kSuccessMessage, kSuccessMessage}));
  }
  // Without a program path there is nothing to repair.
  {
    Fixture f;
    WriteFile(f.db, kOriginal);
    RepairEnvironment env = f.Env();
    env.exe_name = [] { return Result<std::string>(Status::IoError("gone")); };
    RepairDatabase(env);
    EXPECT_EQ(f.installer.calls, 0);
    EXPECT_EQ(ReadFile(f.db), kOriginal);
    EXPECT_EQ(f.sink.shown, std::vector<std::string>{kFailureMessage});
  }
}

TEST(RepairDatabase, FaultsDuringReplacement) {
  using Step = FaultyFileOps::Step;
  struct Case {
    const char* name;
    Step fail;
    const char* expect_db;
    const char* expect_message;
  };
  const std::vector<Case> cases = {
      {"fsync of compacted file", Step::kSyncFile, kOriginal, kFailureMessage},
      {"rename", Step::kRename, kOriginal, kFailureMessage},
      // The rename has happened: data.mdb is the complete compacted file.
      {"fsync of folder", Step::kSyncDir, kCompacted, kSuccessMessage},
      {"none", Step::kNone, kCompacted, kSuccessMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    FaultyFileOps ops(c.fail);
    WriteFile(f.db, kOriginal);
    f.installer.behaviour = f.Driver(1, kCompacted);
    RepairDatabase(f.Env(&ops));
    EXPECT_EQ(ReadFile(f.db).value_or("<missing>"), c.expect_db);
    EXPECT_FALSE(testing::Exists(f.scratch));
    EXPECT_EQ(f.sink.shown, std::vector<std::string>{c.expect_message});
  }
}

}  // namespace
}  // namespace hvq
