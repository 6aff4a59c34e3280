#include "jet/rc4.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hvq::jet {
namespace {

std::vector<uint8_t> Bytes(std::string_view s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(Rc4Test, KnownVectors) {
  struct Case {
    std::string key, plain;
    std::vector<uint8_t> cipher;
  };
  const Case cases[] = {
      {"Key",
       "Plaintext",
       {0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}},
      {"Wiki", "pedia", {0x10, 0x21, 0xBF, 0x04, 0x20}},
      {"Secret",
       "Attack at dawn",
       {0x45, 0xA0, 0x1F, 0x64, 0x5F, 0xC3, 0x5B, 0x38, 0x35, 0x52, 0x54, 0x4B,
        0x9B, 0xF5}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> data = Bytes(c.plain);
    Rc4Apply(Bytes(c.key), data);
    EXPECT_EQ(data, c.cipher) << c.key;
    Rc4Apply(Bytes(c.key), data);
    EXPECT_EQ(data, Bytes(c.plain)) << "applying twice restores " << c.key;
  }
}

TEST(Rc4Test, StreamingEqualsOneShot) {
  std::vector<uint8_t> key = {0xC7, 0xDA, 0x39, 0x6B};
  std::vector<uint8_t> whole(128, 0), parts(128, 0);
  Rc4Apply(key, whole);
  Rc4 rc4(key);
  rc4.Apply(std::span<uint8_t>(parts).first(50));
  rc4.Apply(std::span<uint8_t>(parts).subspan(50));
  EXPECT_EQ(whole, parts);
  // The header mask key stream starts b5 6f 03 62 (seen on every file).
  EXPECT_EQ(whole[0], 0xB5);
  EXPECT_EQ(whole[1], 0x6F);
  EXPECT_EQ(whole[2], 0x03);
  EXPECT_EQ(whole[3], 0x62);
}

TEST(Rc4Test, PageKeyXorsPageNumberLittleEndian) {
  auto k = PageKey(0xA7B773E0, 5);
  EXPECT_EQ(k, (std::array<uint8_t, 4>{0xE5, 0x73, 0xB7, 0xA7}));
}

}  // namespace
}  // namespace hvq::jet
