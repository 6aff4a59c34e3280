#include "jet/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hvq::jet {
namespace {

TEST(TextTest, Jet4TextForms) {
  struct Case {
    std::vector<uint8_t> stored;
    std::string utf8;
  };
  const Case cases[] = {
      {{'A', 0, 'b', 0}, "Ab"},                         // plain UCS-2
      {{0xFF, 0xFE, 'A', 'b', 'c'}, "Abc"},             // compressed
      {{0xFF, 0xFE, 'A', 0x00, 0xAC, 0x20, 0x00, 'z'},  // toggled run
       "A\xE2\x82\xAC"
       "z"},
      {{0xFF, 0xFE}, ""},
      {{0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE}, "\xC3\xA9\xF0\x9F\x98\x80"},
      {{0x00, 0xD8, 'x', 0}, "\xEF\xBF\xBDx"},  // lone surrogate
      {{'A', 0, 'B'}, "A"},                     // odd byte dropped
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeJet4Text(c.stored), c.utf8);
  }
}

TEST(TextTest, Ucs2RoundTrip) {
  const std::string samples[] = {"", "plain", "caf\xC3\xA9",
                                 "\xE4\xB8\xAD\xE6\x96\x87",
                                 "\xF0\x9F\x98\x80 emoji"};
  for (const auto& s : samples) {
    EXPECT_EQ(Ucs2ToUtf8(Utf8ToUcs2(s)), s);
  }
}

TEST(TextTest, CodePageRoundTripAndHoles) {
  std::vector<uint8_t> all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<uint8_t>(b));
  std::string utf8 = CodePageToUtf8(all, 1252);
  EXPECT_EQ(Utf8ToCodePage(utf8, 1252), all);
  EXPECT_EQ(CodePageToUtf8(std::vector<uint8_t>{0x80}, 1252), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToCodePage("\xE4\xB8\xAD", 1252), std::vector<uint8_t>{'?'});
  // Through iconv.
  EXPECT_EQ(CodePageToUtf8(std::vector<uint8_t>{0xD6, 0xD0}, 936),
            "\xE4\xB8\xAD");
}

}  // namespace
}  // namespace hvq::jet
