// Column values in canonical form, decoded from row bytes.
//
// Stored forms (all little-endian):
//   Bool      no bytes: the row's null-mask bit is the value
//   Byte      u8            Int   i16        Long  i32
//   Money     i64 / 10^4    Float f32        Double f64
//   DateTime  f64 days since 1899-12-30, fraction = time of day
//   GUID      16 bytes: u32, u16, u16 little-endian, then 8 bytes as is
//   Numeric   17 bytes: sign byte (0x80 = negative), then a 128-bit
//             magnitude as four u32 words, most significant word first,
//             scaled by 10^scale
//   Text/Binary/Memo/OLE: bytes (text decoded to UTF-8 by the row reader)
#ifndef HVQ_JET_VALUE_H_
#define HVQ_JET_VALUE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/byte_order.h"
#include "jet/table_def.h"
#include "platform/status.h"

namespace hvq::jet {

struct Value {
  enum class Kind : uint8_t {
    kNull,
    kBool,      // b
    kInt,       // i (Byte, Int, Long)
    kMoney,     // i = amount x 10^4
    kFloat,     // d (the stored single widened)
    kDouble,    // d
    kDateTime,  // d = days since 1899-12-30
    kText,      // s = UTF-8
    kBinary,    // s = raw bytes (Binary, OLE)
    kGuid,      // s = 16 stored bytes
    kNumeric,   // s = 17 stored bytes; scale in `scale`
  };
  Kind kind = Kind::kNull;
  bool b = false;
  int64_t i = 0;
  double d = 0;
  std::string s;
  uint8_t scale = 0;

  bool is_null() const { return kind == Kind::kNull; }
  static Value Null() { return Value{}; }
  static Value Int(int64_t v) {
    Value x;
    x.kind = Kind::kInt;
    x.i = v;
    return x;
  }
  static Value Text(std::string v) {
    Value x;
    x.kind = Kind::kText;
    x.s = std::move(v);
    return x;
  }
  bool operator==(const Value&) const = default;
};

// Decodes a fixed-size column's bytes (not Bool, not variable types).
// Wrong length is Corruption.
Result<Value> DecodeFixedValue(ColumnType type, Bytes data, uint8_t scale);

// Canonical, deterministic text of a value:
//   Null ""; Bool "1"/"0"; integers decimal; Money "-12.3400" (4 places);
//   Float/Double shortest round-trip decimal ("1.5", "1e+20", "nan");
//   DateTime "YYYY-MM-DD HH:MM:SS" rounded to the second;
//   Text as is; Binary lowercase hex; GUID "{XXXXXXXX-XXXX-XXXX-XXXX-
//   XXXXXXXXXXXX}" uppercase; Numeric exact decimal with `scale` places.
std::string FormatValue(const Value& v);

// Days since 1899-12-30 to civil date/time parts (negative days count
// back, with the time part still added forward, as Jet does).
struct CivilTime {
  int64_t year = 1899;
  int month = 12, day = 30, hour = 0, minute = 0, second = 0;
};
CivilTime JetDateToCivil(double days);

}  // namespace hvq::jet

#endif  // HVQ_JET_VALUE_H_
