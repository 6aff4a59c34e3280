// Header page reader and encoder. See header.h for the layout.
#include "jet/header.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "jet/rc4.h"
#include "jet/text.h"

namespace hvq::jet {
namespace {

// Jet 4 password mask: the creation date truncated to an integer, 4 bytes
// little-endian, repeated over the password bytes.
std::array<uint8_t, 4> PasswordDateMask(double creation_date) {
  int32_t v = 0;
  if (std::isfinite(creation_date) &&
      creation_date > std::numeric_limits<int32_t>::min() &&
      creation_date < std::numeric_limits<int32_t>::max()) {
    v = static_cast<int32_t>(creation_date);
  }
  std::array<uint8_t, 4> mask{};
  StoreU32Le(mask.data(), static_cast<uint32_t>(v));
  return mask;
}

double DoubleFromBytes(const uint8_t* p) {
  uint64_t bits = LoadU64Le(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Password bytes (all masks removed) to UTF-8, cut at the first NUL.
std::string DecodePassword(const Format& f, const std::vector<uint8_t>& raw,
                           uint16_t code_page) {
  if (f.text_encoding == TextEncoding::kUcs2) {
    size_t chars = 0;
    while (chars * 2 + 1 < raw.size() &&
           (raw[chars * 2] | raw[chars * 2 + 1]) != 0) {
      ++chars;
    }
    return Ucs2ToUtf8(Bytes(raw.data(), chars * 2));
  }
  size_t len = 0;
  while (len < raw.size() && raw[len] != 0) ++len;
  return CodePageToUtf8(Bytes(raw.data(), len), code_page);
}

}  // namespace

Status ToggleHeaderMask(const Format& format, MutableBytes page0) {
  if (!Fits(Bytes(page0), kHeaderMaskedOffset, format.header_masked_size)) {
    return Status::Corruption("header page too short for its masked region", 0,
                              kHeaderMaskedOffset);
  }
  Rc4Apply(kHeaderMaskKey,
           page0.subspan(kHeaderMaskedOffset, format.header_masked_size));
  return Status::Ok();
}

Result<Header> ParseHeader(Bytes page0) {
  uint8_t version_byte = 0;
  if (!ReadU8(page0, kHeaderVersionOffset, &version_byte)) {
    return Status::Corruption("file too short for a database header", 0,
                              kHeaderVersionOffset);
  }
  if (page0[0] != static_cast<uint8_t>(PageType::kDatabaseHeader)) {
    return Status::Corruption("page 0 is not a database header page", 0, 0);
  }
  HVQ_ASSIGN_OR_RETURN(const Format* format,
                       FormatForVersionByte(version_byte));
  size_t end = kHeaderMaskedOffset + format->header_masked_size;
  if (page0.size() < end) {
    return Status::Corruption("header page truncated", 0,
                              static_cast<uint32_t>(page0.size()));
  }
  std::vector<uint8_t> plain(page0.begin(), page0.begin() + end);
  HVQ_RETURN_IF_ERROR(ToggleHeaderMask(*format, plain));

  Header h;
  h.format = format;
  h.version_byte = version_byte;
  h.code_page = LoadU16Le(plain.data() + kHeaderCodePageOffset);
  h.database_key = LoadU32Le(plain.data() + kHeaderDatabaseKeyOffset);
  const uint8_t* so = plain.data() + format->header_sort_order_offset;
  h.sort_order =
      format->header_sort_order_size == 2 ? LoadU16Le(so) : LoadU32Le(so);
  if (format->header_creation_date_offset != 0) {
    std::memcpy(h.creation_date_raw.data(),
                plain.data() + format->header_creation_date_offset, 8);
    h.creation_date = DoubleFromBytes(h.creation_date_raw.data());
  }
  h.password_raw.assign(
      plain.begin() + kHeaderPasswordOffset,
      plain.begin() + kHeaderPasswordOffset + format->header_password_size);
  if (format->text_encoding == TextEncoding::kUcs2) {
    auto mask = PasswordDateMask(h.creation_date);
    for (size_t i = 0; i < h.password_raw.size(); ++i) {
      h.password_raw[i] ^= mask[i % mask.size()];
    }
  }
  h.password = DecodePassword(*format, h.password_raw, h.code_page);
  return h;
}

bool VerifyPassword(const Header& header, std::string_view password) {
  if (!header.has_password()) return true;
  return header.password == password;
}

Status EncodeHeader(const Header& header, MutableBytes page0) {
  if (header.format == nullptr) {
    return Status::InvalidArgument("header has no format");
  }
  const Format& f = *header.format;
  if (!Fits(Bytes(page0), 0, kHeaderMaskedOffset + f.header_masked_size)) {
    return Status::InvalidArgument("page 0 buffer too short");
  }
  if (page0[kHeaderVersionOffset] != header.version_byte) {
    return Status::InvalidArgument("page 0 version byte does not match");
  }
  std::vector<uint8_t> pw;
  if (header.password_raw.size() == f.header_password_size &&
      DecodePassword(f, header.password_raw, header.code_page) ==
          header.password) {
    // Unchanged password: keep the stored bytes, padding included.
    pw = header.password_raw;
  } else if (f.text_encoding == TextEncoding::kUcs2) {
    pw = Utf8ToUcs2(header.password);
  } else {
    pw = Utf8ToCodePage(header.password, header.code_page);
  }
  if (pw.size() > f.header_password_size) {
    return Status::InvalidArgument("password longer than " +
                                   std::to_string(f.header_password_size) +
                                   " bytes");
  }
  pw.resize(f.header_password_size, 0);

  HVQ_RETURN_IF_ERROR(ToggleHeaderMask(f, page0));
  uint8_t* p = page0.data();
  StoreU16Le(p + kHeaderCodePageOffset, header.code_page);
  StoreU32Le(p + kHeaderDatabaseKeyOffset, header.database_key);
  if (f.header_sort_order_size == 2) {
    StoreU16Le(p + f.header_sort_order_offset,
               static_cast<uint16_t>(header.sort_order));
  } else {
    StoreU32Le(p + f.header_sort_order_offset, header.sort_order);
  }
  double date = 0;
  if (f.header_creation_date_offset != 0) {
    uint64_t bits;
    std::memcpy(&bits, &header.creation_date, sizeof bits);
    StoreU64Le(p + f.header_creation_date_offset, bits);
    date = header.creation_date;
    auto mask = PasswordDateMask(date);
    for (size_t i = 0; i < pw.size(); ++i) pw[i] ^= mask[i % mask.size()];
  }
  std::memcpy(p + kHeaderPasswordOffset, pw.data(), pw.size());
  return ToggleHeaderMask(f, page0);
}

}  // namespace hvq::jet
