// Text conversions for names and values: Jet 4 UCS-2 (plain and the
// "compressed" form that starts with 0xFF 0xFE), Jet 3 single-byte code
// page text, and UTF-8, which is what the rest of the engine uses.
#ifndef HVQ_JET_TEXT_H_
#define HVQ_JET_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/byte_order.h"
#include "platform/status.h"

namespace hvq::jet {

// UTF-16LE to UTF-8; an odd trailing byte is dropped, unpaired surrogates
// become U+FFFD.
std::string Ucs2ToUtf8(Bytes bytes);
// UTF-8 to UTF-16LE; invalid sequences become U+FFFD.
std::vector<uint8_t> Utf8ToUcs2(std::string_view utf8);

// Jet 4 text value: compressed (0xFF 0xFE marker, then runs toggled by 0x00
// between one-byte characters and UCS-2 pairs) or plain UCS-2.
std::string DecodeJet4Text(Bytes bytes);

// Single-byte code page text to UTF-8. Code page 0 or an unknown one is
// read as Windows-1252.
std::string CodePageToUtf8(Bytes bytes, uint16_t code_page);
// UTF-8 to code page bytes; unmappable characters become '?'.
std::vector<uint8_t> Utf8ToCodePage(std::string_view utf8, uint16_t code_page);

}  // namespace hvq::jet

#endif  // HVQ_JET_TEXT_H_
