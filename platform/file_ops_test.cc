#include "platform/file_ops.h"

#include <gtest/gtest.h>

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

TEST(DirectoryOf, KeepsSeparator) {
  EXPECT_EQ(DirectoryOf("/a/b"), "/a/");
  EXPECT_EQ(DirectoryOf("b"), "./");
}

}  // namespace
}  // namespace hvq
