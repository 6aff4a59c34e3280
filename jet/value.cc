// Fixed-size value decoding and canonical formatting.
#include "jet/value.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace hvq::jet {
namespace {

double LoadDouble(const uint8_t* p) {
  uint64_t bits = LoadU64Le(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

float LoadFloat(const uint8_t* p) {
  uint32_t bits = LoadU32Le(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Days from civil (proleptic Gregorian), after H. Hinnant's algorithm.
void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t yy = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yy + (*m <= 2 ? 1 : 0);
}

std::string Hex(const std::string& s, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string ScaledDecimal(unsigned __int128 mag, bool negative, int scale) {
  std::string digits;
  if (mag == 0) digits = "0";
  while (mag > 0) {
    digits.push_back(static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  }
  while (static_cast<int>(digits.size()) <= scale) digits.push_back('0');
  std::string out(digits.rbegin(), digits.rend());
  if (scale > 0) out.insert(out.size() - scale, ".");
  bool zero = out.find_first_not_of("0.") == std::string::npos;
  if (negative && !zero) out.insert(0, "-");
  return out;
}

std::string ShortestDouble(double d, bool is_float) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  char buf[64];
  std::to_chars_result r =
      is_float ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
               : std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

}  // namespace

Result<Value> DecodeFixedValue(ColumnType type, Bytes data, uint8_t scale) {
  size_t need = FixedDataSize(type);
  if (need == 0) {
    return Status::InvalidArgument("not a fixed-size column type");
  }
  if (data.size() < need) {
    return Status::Corruption(std::string(ColumnTypeName(type)) +
                              " value has " + std::to_string(data.size()) +
                              " bytes, needs " + std::to_string(need));
  }
  const uint8_t* p = data.data();
  Value v;
  switch (type) {
    case ColumnType::kByte:
      v.kind = Value::Kind::kInt;
      v.i = p[0];
      break;
    case ColumnType::kInt:
      v.kind = Value::Kind::kInt;
      v.i = static_cast<int16_t>(LoadU16Le(p));
      break;
    case ColumnType::kLong:
      v.kind = Value::Kind::kInt;
      v.i = static_cast<int32_t>(LoadU32Le(p));
      break;
    case ColumnType::kBigInt:
      v.kind = Value::Kind::kInt;
      v.i = static_cast<int64_t>(LoadU64Le(p));
      break;
    case ColumnType::kMoney:
      v.kind = Value::Kind::kMoney;
      v.i = static_cast<int64_t>(LoadU64Le(p));
      break;
    case ColumnType::kFloat:
      v.kind = Value::Kind::kFloat;
      v.d = LoadFloat(p);
      break;
    case ColumnType::kDouble:
      v.kind = Value::Kind::kDouble;
      v.d = LoadDouble(p);
      break;
    case ColumnType::kDateTime:
      v.kind = Value::Kind::kDateTime;
      v.d = LoadDouble(p);
      break;
    case ColumnType::kGuid:
      v.kind = Value::Kind::kGuid;
      v.s.assign(reinterpret_cast<const char*>(p), 16);
      break;
    case ColumnType::kNumeric:
      v.kind = Value::Kind::kNumeric;
      v.s.assign(reinterpret_cast<const char*>(p), 17);
      v.scale = scale;
      break;
    default:
      return Status::InvalidArgument("not a fixed-size column type");
  }
  return v;
}

CivilTime JetDateToCivil(double days) {
  CivilTime t;
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return t;
  // Jet counts negative dates as "day part back, time part forward".
  double day_part = std::trunc(days);
  double frac = std::fabs(days - day_part);
  int64_t secs = static_cast<int64_t>(std::llround(frac * 86400.0));
  int64_t day = static_cast<int64_t>(day_part);
  if (secs >= 86400) {
    secs -= 86400;
    day += days < 0 ? -1 : 1;
  }
  // 1899-12-30 is 25569 days before 1970-01-01.
  CivilFromDays(day - 25569, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>((secs / 60) % 60);
  t.second = static_cast<int>(secs % 60);
  return t;
}

std::string FormatValue(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull:
      return "";
    case Value::Kind::kBool:
      return v.b ? "1" : "0";
    case Value::Kind::kInt:
      return std::to_string(v.i);
    case Value::Kind::kMoney: {
      bool neg = v.i < 0;
      unsigned __int128 mag =
          neg ? static_cast<unsigned __int128>(-(v.i + 1)) + 1
              : static_cast<unsigned __int128>(v.i);
      return ScaledDecimal(mag, neg, 4);
    }
    case Value::Kind::kFloat:
      return ShortestDouble(v.d, true);
    case Value::Kind::kDouble:
      return ShortestDouble(v.d, false);
    case Value::Kind::kDateTime: {
      CivilTime t = JetDateToCivil(v.d);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d",
                    static_cast<long long>(t.year), t.month, t.day, t.hour,
                    t.minute, t.second);
      return buf;
    }
    case Value::Kind::kText:
      return v.s;
    case Value::Kind::kBinary:
      return Hex(v.s, false);
    case Value::Kind::kGuid: {
      if (v.s.size() != 16) return Hex(v.s, true);
      const auto* p = reinterpret_cast<const uint8_t*>(v.s.data());
      char buf[64];
      std::snprintf(buf, sizeof buf,
                    "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                    LoadU32Le(p), LoadU16Le(p + 4), LoadU16Le(p + 6), p[8],
                    p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
      return buf;
    }
    case Value::Kind::kNumeric: {
      if (v.s.size() != 17) return Hex(v.s, false);
      const auto* p = reinterpret_cast<const uint8_t*>(v.s.data());
      unsigned __int128 mag = 0;
      for (int w = 0; w < 4; ++w) {
        mag = (mag << 32) | LoadU32Le(p + 1 + 4 * w);
      }
      return ScaledDecimal(mag, (p[0] & 0x80) != 0, v.scale);
    }
  }
  return "";
}

}  // namespace hvq::jet
