#include "jet/value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jet/byte_order.h"

namespace hvq::jet {
namespace {

std::vector<uint8_t> Le64(uint64_t v) {
  std::vector<uint8_t> b(8);
  StoreU64Le(b.data(), v);
  return b;
}
std::vector<uint8_t> Dbl(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return Le64(bits);
}

TEST(ValueTest, DecodeAndFormatFixedTypes) {
  struct Case {
    ColumnType type;
    std::vector<uint8_t> bytes;
    uint8_t scale;
    std::string text;
  };
  std::vector<uint8_t> numeric(17, 0);
  numeric[0] = 0x80;                        // negative
  StoreU32Le(numeric.data() + 13, 123456);  // least significant word last
  std::vector<uint8_t> big(17, 0);
  StoreU32Le(big.data() + 9, 1);  // 2^32
  const Case cases[] = {
      {ColumnType::kByte, {0xFF}, 0, "255"},
      {ColumnType::kInt, {0xFE, 0xFF}, 0, "-2"},
      {ColumnType::kLong, {0x00, 0x00, 0x00, 0x80}, 0, "-2147483648"},
      {ColumnType::kMoney, Le64(static_cast<uint64_t>(-12345)), 0, "-1.2345"},
      {ColumnType::kMoney, Le64(35000), 0, "3.5000"},
      {ColumnType::kMoney, Le64(0x8000000000000000ull), 0,
       "-922337203685477.5808"},
      {ColumnType::kFloat, {0x00, 0x00, 0xC0, 0x3F}, 0, "1.5"},
      {ColumnType::kDouble, Dbl(0.1), 0, "0.1"},
      {ColumnType::kDateTime, Dbl(27293.0), 0, "1974-09-21 00:00:00"},
      {ColumnType::kDateTime, Dbl(36526.75), 0, "2000-01-01 18:00:00"},
      // Negative: day part back, time part forward (Jet's reading).
      {ColumnType::kDateTime, Dbl(-1.25), 0, "1899-12-29 06:00:00"},
      {ColumnType::kDateTime, Dbl(0.99999999), 0, "1899-12-31 00:00:00"},
      {ColumnType::kGuid,
       {0x3A, 0x30, 0x96, 0xBC, 0xB8, 0x53, 0x4D, 0x47, 0xAC, 0xC1, 0xD2, 0xEB,
        0x8D, 0x0B, 0x09, 0xD5},
       0,
       "{BC96303A-53B8-474D-ACC1-D2EB8D0B09D5}"},
      {ColumnType::kNumeric, numeric, 2, "-1234.56"},
      {ColumnType::kNumeric, big, 0, "4294967296"},
      {ColumnType::kNumeric, std::vector<uint8_t>(17, 0), 3, "0.000"},
  };
  for (const Case& c : cases) {
    auto v = DecodeFixedValue(c.type, c.bytes, c.scale);
    ASSERT_TRUE(v.ok()) << v.status().ToString();
    EXPECT_EQ(FormatValue(*v), c.text) << ColumnTypeName(c.type);
  }
}

TEST(ValueTest, ShortBytesAreCorruption) {
  for (ColumnType t : {ColumnType::kLong, ColumnType::kDouble,
                       ColumnType::kGuid, ColumnType::kNumeric}) {
    auto v = DecodeFixedValue(t, std::vector<uint8_t>(3, 0), 0);
    EXPECT_EQ(v.status().code(), StatusCode::kCorruption);
  }
  EXPECT_EQ(DecodeFixedValue(ColumnType::kText, {}, 0).status().code(),
            StatusCode::kInvalidArgument);
}

TEST(ValueTest, NonFiniteAndHugeDatesDoNotCrash) {
  for (double d : {std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity(), 1e300, -1e300}) {
    auto v = DecodeFixedValue(ColumnType::kDateTime, Dbl(d), 0);
    ASSERT_TRUE(v.ok());
    EXPECT_FALSE(FormatValue(*v).empty());
  }
}

}  // namespace
}  // namespace hvq::jet
