// Text conversions. Windows-1252 is built in; other code pages go through
// iconv.
#include "jet/text.h"

#include <iconv.h>

#include <array>
#include <cstring>
#include <string>

namespace hvq::jet {
namespace {

// Windows-1252 0x80..0x9F; 0 marks an undefined position (kept as the C1
// control of the same value).
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes UTF-8 into code points; invalid bytes become U+FFFD.
std::vector<uint32_t> Utf8ToCodePoints(std::string_view s) {
  std::vector<uint32_t> cps;
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    int len = c < 0x80         ? 1
              : (c >> 5) == 6  ? 2
              : (c >> 4) == 14 ? 3
              : (c >> 3) == 30 ? 4
                               : 0;
    if (len == 0 || i + len > s.size()) {
      cps.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      uint8_t cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      cps.push_back(0xFFFD);
      ++i;
      continue;
    }
    cps.push_back(cp);
    i += len;
  }
  return cps;
}

std::string Cp1252ToUtf8(Bytes bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    uint32_t cp = b;
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) {
      cp = kCp1252High[b - 0x80];
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool IconvConvert(const char* to, const char* from, const char* in,
                  size_t in_len, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  std::string buf(in_len * 4 + 16, '\0');
  char* inp = const_cast<char*>(in);
  size_t in_left = in_len;
  char* outp = buf.data();
  size_t out_left = buf.size();
  bool ok = true;
  while (in_left > 0) {
    size_t r = iconv(cd, &inp, &in_left, &outp, &out_left);
    if (r == static_cast<size_t>(-1)) {
      if (errno == EILSEQ || errno == EINVAL) {
        // Skip the offending byte, emit a replacement.
        ++inp;
        --in_left;
        if (out_left >= 1) {
          *outp++ = '?';
          --out_left;
        }
        continue;
      }
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return false;
  out->assign(buf.data(), outp - buf.data());
  return true;
}

}  // namespace

std::string Ucs2ToUtf8(Bytes bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t n = bytes.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = LoadU16Le(bytes.data() + 2 * i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
      uint32_t lo = LoadU16Le(bytes.data() + 2 * (i + 1));
      if (lo >= 0xDC00 && lo < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

std::vector<uint8_t> Utf8ToUcs2(std::string_view utf8) {
  std::vector<uint8_t> out;
  for (uint32_t cp : Utf8ToCodePoints(utf8)) {
    auto put = [&out](uint32_t u) {
      out.push_back(static_cast<uint8_t>(u));
      out.push_back(static_cast<uint8_t>(u >> 8));
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string DecodeJet4Text(Bytes bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    return Ucs2ToUtf8(bytes);
  }
  std::vector<uint8_t> ucs2;
  ucs2.reserve(bytes.size() * 2);
  bool compressed = true;
  size_t i = 2;
  while (i < bytes.size()) {
    if (bytes[i] == 0x00) {
      compressed = !compressed;
      ++i;
      continue;
    }
    if (compressed) {
      ucs2.push_back(bytes[i]);
      ucs2.push_back(0);
      ++i;
    } else {
      if (i + 1 >= bytes.size()) break;
      ucs2.push_back(bytes[i]);
      ucs2.push_back(bytes[i + 1]);
      i += 2;
    }
  }
  return Ucs2ToUtf8(ucs2);
}

std::string CodePageToUtf8(Bytes bytes, uint16_t code_page) {
  if (code_page == 0 || code_page == 1252) return Cp1252ToUtf8(bytes);
  std::string out;
  std::string from = "CP" + std::to_string(code_page);
  if (IconvConvert("UTF-8", from.c_str(),
                   reinterpret_cast<const char*>(bytes.data()), bytes.size(),
                   &out)) {
    return out;
  }
  return Cp1252ToUtf8(bytes);
}

std::vector<uint8_t> Utf8ToCodePage(std::string_view utf8, uint16_t code_page) {
  std::vector<uint8_t> out;
  if (code_page == 0 || code_page == 1252) {
    for (uint32_t cp : Utf8ToCodePoints(utf8)) {
      if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
        out.push_back(static_cast<uint8_t>(cp));
        continue;
      }
      uint8_t mapped = '?';
      for (size_t k = 0; k < kCp1252High.size(); ++k) {
        if (kCp1252High[k] == cp) mapped = static_cast<uint8_t>(0x80 + k);
      }
      // Undefined positions were read as the C1 control of the same value.
      if (cp >= 0x80 && cp < 0xA0 && kCp1252High[cp - 0x80] == 0) {
        mapped = static_cast<uint8_t>(cp);
      }
      out.push_back(mapped);
    }
    return out;
  }
  std::string converted;
  std::string to = "CP" + std::to_string(code_page);
  if (IconvConvert(to.c_str(), "UTF-8", utf8.data(), utf8.size(), &converted)) {
    out.assign(converted.begin(), converted.end());
    return out;
  }
  return Utf8ToCodePage(utf8, 1252);
}

}  // namespace hvq::jet
