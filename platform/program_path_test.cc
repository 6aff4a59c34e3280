#include "platform/program_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"

namespace hvq {
namespace {

TEST(ExtractFilePath, KeepsTrailingSeparatorByteForByte) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {"/opt/hvq/HVQ_Repair", "/opt/hvq/"},
      {"/HVQ_Repair", "/"},
      {"HVQ_Repair", ""},
      {"/a b/c d/HVQ_Repair", "/a b/c d/"},
      {"/資料/程式/HVQ_Repair", "/資料/程式/"},
      // A Big5 trail byte 0x5C is not a separator here.
      {std::string("/x\xa5\x5cy/HVQ_Repair"), std::string("/x\xa5\x5cy/")},
      {"/dir/", "/dir/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractFilePath(c.in), c.out) << c.in;
}

TEST(ExeName, IsThisBinaryWhateverTheCurrentDirectory) {
  Result<std::string> before = ExeName();
  ASSERT_TRUE(before.ok()) << before.status().ToString();
  EXPECT_EQ(before->front(), '/');
  EXPECT_NE(before->find("platform_test"), std::string::npos);
  testing::TempDir dir;
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  Result<std::string> after = ExeName();
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_EQ(*after, *before);
}

}  // namespace
}  // namespace hvq
