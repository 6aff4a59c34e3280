// The repair through unixODBC's real installer: a stand-in driver setup
// library is registered in a temporary odbcinst.ini, and each case runs in
// a child process because the installer reads ODBCSYSINI once per process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "repair/repair_database.h"
#include "repair/testing/child_process.h"

namespace hvq {
namespace {

using testing::InChild;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

void RegisterFakeDriver(const std::string& sysini_dir, bool registered) {
  std::string ini;
  if (registered) {
    ini = std::string("[Microsoft Access Driver (*.mdb)]\n") +
          "Description=stand-in for tests\n" +
          "Driver=" + HVQ_FAKE_SETUP_DRIVER + "\n" +
          "Setup=" + HVQ_FAKE_SETUP_DRIVER + "\n";
  } else {
    ini = "[Some Other Driver]\nDriver=/nonexistent.so\n";
  }
  WriteFile(sysini_dir + "odbcinst.ini", ini);
  WriteFile(sysini_dir + "odbc.ini", "");
}

class StringSink : public MessageSink {
 public:
  void ShowMessage(std::string_view text) override { shown.append(text); }
  std::string shown;
};

TEST(InstallerPath, RepairThroughUnixOdbc) {
  struct Case {
    const char* name;
    bool registered;
    const char* driver_result;
    bool driver_writes_output;
    const char* expect_db;
    const char* expect_message;
  };
  const std::vector<Case> cases = {
      {"driver succeeds", true, "1", true, "compacted", kSuccessMessage},
      {"driver fails", true, "0", true, "original", kFailureMessage},
      {"driver answers 2", true, "2", true, "original", kFailureMessage},
      {"driver not registered", false, "1", true, "original", kFailureMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const std::string sysini = tmp.MakeSubdir("odbc");
    const std::string folder = tmp.MakeSubdir("My Tools 資料\xa5\x5c");
    const std::string record = tmp.path() + "record.bin";
    RegisterFakeDriver(sysini, c.registered);
    WriteFile(folder + "data.mdb", "original");

    std::string shown = InChild([&] {
      ::setenv("ODBCSYSINI", sysini.c_str(), 1);
      ::setenv("HVQ_FAKE_RECORD", record.c_str(), 1);
      ::setenv("HVQ_FAKE_RESULT", c.driver_result, 1);
      if (c.driver_writes_output) {
        ::setenv("HVQ_FAKE_OUTPUT_PATH", (folder + "data_repair.mdb").c_str(),
                 1);
        ::setenv("HVQ_FAKE_OUTPUT_DATA", "compacted", 1);
      }
      StringSink sink;
      RepairEnvironment env = DefaultRepairEnvironment(sink);
      env.exe_name = [&] { return Result<std::string>(folder + "HVQ_Repair"); };
      RepairDatabase(env);
      return sink.shown;
    });

    EXPECT_EQ(shown, c.expect_message);
    EXPECT_EQ(ReadFile(folder + "data.mdb").value_or("<missing>"), c.expect_db);
    EXPECT_FALSE(testing::Exists(folder + "data_repair.mdb"));
    if (c.registered) {
      EXPECT_EQ(ReadFile(record).value_or("<not called>"),
                "1\nMicrosoft Access Driver (*.mdb)\n" +
                    BuildCompactionAttributes(folder));
    } else {
      EXPECT_FALSE(testing::Exists(record));
    }
  }
}

// The console entry, copied into a program folder and started from another
// current directory that holds a decoy data.mdb.
TEST(InstallerPath, ProgramFolderNotCurrentDirectory) {
  TempDir tmp;
  const std::string sysini = tmp.MakeSubdir("odbc");
  const std::string folder = tmp.MakeSubdir("程式 folder");
  const std::string elsewhere = tmp.MakeSubdir("elsewhere");
  const std::string record = tmp.path() + "record.bin";
  RegisterFakeDriver(sysini, true);
  std::filesystem::copy_file(HVQ_REPAIR_CLI, folder + "hvq_repair_cli");
  WriteFile(folder + "data.mdb", "original");
  WriteFile(elsewhere + "data.mdb", "decoy");
  WriteFile(elsewhere + "data_repair.mdb", "decoy scratch");

  std::string out = InChild([&] {
    ::setenv("ODBCSYSINI", sysini.c_str(), 1);
    ::setenv("HVQ_FAKE_RECORD", record.c_str(), 1);
    ::setenv("HVQ_FAKE_RESULT", "1", 1);
    ::setenv("HVQ_FAKE_OUTPUT_PATH", (folder + "data_repair.mdb").c_str(), 1);
    ::setenv("HVQ_FAKE_OUTPUT_DATA", "compacted", 1);
    if (::chdir(elsewhere.c_str()) != 0) return std::string("<chdir>");
    int rc = 0;
    return testing::RunCommand(testing::ShellQuote(folder + "hvq_repair_cli"),
                               &rc);
  });

  EXPECT_EQ(out, "HVQ_Repair: 資料庫修護成功！\n");
  EXPECT_EQ(ReadFile(folder + "data.mdb"), "compacted");
  EXPECT_FALSE(testing::Exists(folder + "data_repair.mdb"));
  EXPECT_EQ(ReadFile(elsewhere + "data.mdb"), "decoy");
  EXPECT_EQ(ReadFile(elsewhere + "data_repair.mdb"), "decoy scratch");
  EXPECT_EQ(ReadFile(record).value_or("<not called>"),
            "1\nMicrosoft Access Driver (*.mdb)\n" +
                BuildCompactionAttributes(folder));
}

}  // namespace
}  // namespace hvq
