#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <vector>

#include "platform/testing/temp_dir.h"

namespace hvq {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(SafeReplace, ReplacesWithinOneFolder) {
  TempDir dir;
  const std::string from = dir.path() + "new.tmp";
  const std::string to = dir.path() + "target";
  WriteFile(from, "new");
  WriteFile(to, "old");
  ReplaceOutcome out = SafeReplace(PosixFileOps(), from, to);
  EXPECT_TRUE(out.status.ok()) << out.status.ToString();
  EXPECT_TRUE(out.replaced);
  EXPECT_EQ(ReadFile(to), "new");
  EXPECT_FALSE(testing::Exists(from));
}

// The replacement keeps the target's permission bits, whatever mode the
// new file was created with.
TEST(SafeReplace, KeepsTheTargetsMode) {
  for (const mode_t mode : {mode_t{0664}, mode_t{0600}, mode_t{0444}}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    const std::string from = dir.path() + "new.tmp";
    const std::string to = dir.path() + "target";
    WriteFile(from, "new");
    WriteFile(to, "old");
    ASSERT_EQ(::chmod(from.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(to.c_str(), mode), 0);
    ReplaceOutcome out = SafeReplace(PosixFileOps(), from, to);
    ASSERT_TRUE(out.status.ok()) << out.status.ToString();
    struct stat st;
    ASSERT_EQ(::stat(to.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(ReadFile(to), "new");
  }
}

TEST(SafeReplace, RefusesWithoutTouchingTarget) {
  TempDir dir;
  const std::string sub = dir.MakeSubdir("sub");
  const std::string to = dir.path() + "target";
  WriteFile(to, "old");
  WriteFile(sub + "new", "new");
  struct Case {
    std::string from;
    StatusCode code;
  };
  for (const Case& c : {Case{sub + "new", StatusCode::kInvalidArgument},
                        Case{dir.path() + "missing", StatusCode::kNotFound}}) {
    ReplaceOutcome out = SafeReplace(PosixFileOps(), c.from, to);
    EXPECT_EQ(out.status.code(), c.code) << out.status.ToString();
    EXPECT_FALSE(out.replaced);
    EXPECT_EQ(ReadFile(to), "old");
  }
}

// Lists the names in `dir` (no "." / "..").
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

Status WriteAll(int fd, const std::string& data) {
  if (::write(fd, data.data(), data.size()) !=
      static_cast<ssize_t>(data.size())) {
    return Status::IoError("short write");
  }
  return Status::Ok();
}

TEST(CreateFileAtomically, CommitsOnlyCompleteFiles) {
  TempDir dir;
  const std::string path = dir.path() + "out file.bin";
  Status st = CreateFileAtomically(path, CreateMode::kMustNotExist,
                                   [](int fd) { return WriteAll(fd, "x1"); });
  ASSERT_TRUE(st.ok()) << st.ToString();
  EXPECT_EQ(ReadFile(path), "x1");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"out file.bin"});

  // A failing fill leaves nothing, not even its temporary file.
  const std::string other = dir.path() + "other";
  st = CreateFileAtomically(other, CreateMode::kMustNotExist, [](int fd) {
    EXPECT_TRUE(WriteAll(fd, "partial").ok());
    return Status::IoError("disk full");
  });
  EXPECT_EQ(st.code(), StatusCode::kIoError);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"out file.bin"});
}

TEST(CreateFileAtomically, NeverReplacesInMustNotExistMode) {
  TempDir dir;
  const std::string path = dir.path() + "target";
  WriteFile(path, "old");
  Status st = CreateFileAtomically(path, CreateMode::kMustNotExist,
                                   [](int fd) { return WriteAll(fd, "new"); });
  EXPECT_EQ(st.code(), StatusCode::kAlreadyExists);
  // The target appearing while the content is written is not replaced
  // either.
  const std::string late = dir.path() + "late";
  st = CreateFileAtomically(late, CreateMode::kMustNotExist, [&](int fd) {
    WriteFile(late, "theirs");
    return WriteAll(fd, "ours");
  });
  EXPECT_EQ(st.code(), StatusCode::kAlreadyExists);
  EXPECT_EQ(ReadFile(late), "theirs");
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"late", "target"}));

  st = CreateFileAtomically(path, CreateMode::kReplace,
                            [](int fd) { return WriteAll(fd, "new"); });
  ASSERT_TRUE(st.ok()) << st.ToString();
  EXPECT_EQ(ReadFile(path), "new");
}

// A process killed while the content is being written leaves no file under
// the final name (at most its temporary file).
TEST(CreateFileAtomically, KilledWriterLeavesNoFile) {
  TempDir dir;
  const std::string path = dir.path() + "data_repair.mdb";
  pid_t pid = ::fork();
  if (pid == 0) {
    (void)CreateFileAtomically(path, CreateMode::kMustNotExist, [](int fd) {
      (void)WriteAll(fd, std::string(100000, 'x'));
      ::raise(SIGKILL);
      return Status::Ok();
    });
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(testing::Exists(path));
  for (const std::string& name : Names(dir.path())) {
    EXPECT_EQ(name.rfind(".data_repair.mdb.tmp-", 0), 0u) << name;
  }
}

TEST(CreateFileAtomically, ReportsUnwritableFolder) {
  TempDir dir;
  Status st =
      CreateFileAtomically(dir.path() + "missing/f", CreateMode::kMustNotExist,
                           [](int) { return Status::Ok(); });
  EXPECT_EQ(st.code(), StatusCode::kNotFound) << st.ToString();
}

TEST(DirectoryOf, KeepsSeparator) {
  EXPECT_EQ(DirectoryOf("/a/b"), "/a/");
  EXPECT_EQ(DirectoryOf("b"), "./");
}

}  // namespace
}  // namespace hvq
