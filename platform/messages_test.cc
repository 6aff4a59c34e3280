#include "platform/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hvq {
namespace {

TEST(Cp950, RoundTripsAndRejectsInvalidBytes) {
  const std::vector<std::string> texts = {
      "HVQ", "資料庫修護成功！", "許功蓋",
      "# 請將本程式與資料檔放在同一資料夾下！"};
  for (const std::string& t : texts) {
    Result<std::string> big5 = Utf8ToCp950(t);
    ASSERT_TRUE(big5.ok()) << t;
    EXPECT_EQ(*Cp950ToUtf8(*big5), t);
  }
  // 許 is 0xB3 0x5C: its trail byte is '\'.
  EXPECT_EQ(*Utf8ToCp950("許"), "\xb3\x5c");
  // A lead byte with no trail byte, and a byte that is never valid.
  EXPECT_FALSE(Cp950ToUtf8("\xb8").ok());
  EXPECT_FALSE(Cp950ToUtf8("\xff").ok());
}

}  // namespace
}  // namespace hvq
