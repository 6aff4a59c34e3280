// Database header page (page 0): reader, password check and field encoder.
//
// Layout (offsets from page start):
//   0x00  u8    page type 0x00
//   0x04  ...   engine name ("Standard Jet DB")
//   0x14  u8    version: 0 = Jet 3, 1 = Jet 4, >= 2 = ACE (refused)
//   0x18  ...   region masked with RC4 key c7 da 39 6b:
//               126 bytes (Jet 3) / 128 bytes (Jet 4). Inside it:
//   0x3A  u16   sort order (Jet 3)
//   0x3C  u16   code page
//   0x3E  u32   database key (0 = pages not encrypted)
//   0x42  ...   password: 20 bytes code page text (Jet 3) or 40 bytes UCS-2
//               (Jet 4), the latter additionally XOR-masked with the 4
//               little-endian bytes of the truncated creation date
//   0x6E  u32   sort order (Jet 4)
//   0x72  f64   creation date (Jet 4), days since 1899-12-30
// Everything else on page 0 is carried over byte for byte by writers; the
// encoder patches only the fields above.
#ifndef HVQ_JET_HEADER_H_
#define HVQ_JET_HEADER_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/byte_order.h"
#include "jet/format.h"
#include "platform/status.h"

namespace hvq::jet {

struct Header {
  const Format* format = nullptr;  // never null after ParseHeader
  uint8_t version_byte = 0;
  uint16_t code_page = 0;
  uint32_t sort_order = 0;  // raw: 2 bytes (Jet 3) or 4 bytes (Jet 4)
  uint32_t database_key = 0;
  double creation_date = 0;  // Jet 4; 0 for Jet 3
  std::array<uint8_t, 8> creation_date_raw{};
  // Password bytes after removing every mask; all zero = no password.
  // EncodeHeader writes them back as they are while `password` still
  // matches them, so padding bytes survive a parse/encode round trip.
  std::vector<uint8_t> password_raw;
  // The same decoded to UTF-8, cut at the first NUL character.
  std::string password;

  JetVersion version() const { return format->version; }
  bool has_password() const { return !password.empty(); }
  bool encrypted() const { return database_key != 0; }
};

// Parses page 0 (at least the masked region must be present). Refuses ACE
// and unknown versions with NotSupported, short input with Corruption.
Result<Header> ParseHeader(Bytes page0);

// True when `password` opens the database: any password if none is stored,
// otherwise exactly the stored one (case-sensitive).
bool VerifyPassword(const Header& header, std::string_view password);

// Writes code page, sort order, database key, creation date (Jet 4) and
// password of `header` into `page0`, which holds a stored page 0 (masked
// form). All other bytes are left untouched. `header.password` is the
// source of the password (UTF-8; longer than 20 / 20 characters is
// InvalidArgument). The version byte is not changed and must match.
Status EncodeHeader(const Header& header, MutableBytes page0);

// Unmasks/masks the RC4 region of a page 0 copy in place (self-inverse).
Status ToggleHeaderMask(const Format& format, MutableBytes page0);

}  // namespace hvq::jet

#endif  // HVQ_JET_HEADER_H_
