// Byte order: the only place that knows how integers sit in page bytes.
//
// Jet stores every integer little-endian except index keys, which are
// big-endian so that they sort bytewise. Functions name their width and
// byte order. The Read* forms are bounds-checked against a span and return
// false when the value does not fit; the Load*/Store* forms take a raw
// pointer and are for callers that have already checked the range.
#ifndef HVQ_JET_BYTE_ORDER_H_
#define HVQ_JET_BYTE_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace hvq::jet {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline uint16_t LoadU16Le(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU24Le(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
}
inline uint32_t LoadU32Le(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
         (uint32_t{p[3]} << 24);
}
inline uint64_t LoadU64Le(const uint8_t* p) {
  return uint64_t{LoadU32Le(p)} | (uint64_t{LoadU32Le(p + 4)} << 32);
}
inline uint16_t LoadU16Be(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t LoadU24Be(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[2]};
}
inline uint32_t LoadU32Be(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void StoreU16Le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU24Le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void StoreU32Le(uint8_t* p, uint32_t v) {
  StoreU16Le(p, static_cast<uint16_t>(v));
  StoreU16Le(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void StoreU64Le(uint8_t* p, uint64_t v) {
  StoreU32Le(p, static_cast<uint32_t>(v));
  StoreU32Le(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void StoreU16Be(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void StoreU24Be(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void StoreU32Be(uint8_t* p, uint32_t v) {
  StoreU16Be(p, static_cast<uint16_t>(v >> 16));
  StoreU16Be(p + 2, static_cast<uint16_t>(v));
}

inline bool Fits(Bytes b, size_t offset, size_t width) {
  return offset <= b.size() && width <= b.size() - offset;
}

inline bool ReadU8(Bytes b, size_t off, uint8_t* out) {
  if (!Fits(b, off, 1)) return false;
  *out = b[off];
  return true;
}
inline bool ReadU16Le(Bytes b, size_t off, uint16_t* out) {
  if (!Fits(b, off, 2)) return false;
  *out = LoadU16Le(b.data() + off);
  return true;
}
inline bool ReadU24Le(Bytes b, size_t off, uint32_t* out) {
  if (!Fits(b, off, 3)) return false;
  *out = LoadU24Le(b.data() + off);
  return true;
}
inline bool ReadU32Le(Bytes b, size_t off, uint32_t* out) {
  if (!Fits(b, off, 4)) return false;
  *out = LoadU32Le(b.data() + off);
  return true;
}
inline bool ReadU64Le(Bytes b, size_t off, uint64_t* out) {
  if (!Fits(b, off, 8)) return false;
  *out = LoadU64Le(b.data() + off);
  return true;
}
inline bool ReadU16Be(Bytes b, size_t off, uint16_t* out) {
  if (!Fits(b, off, 2)) return false;
  *out = LoadU16Be(b.data() + off);
  return true;
}
inline bool ReadU24Be(Bytes b, size_t off, uint32_t* out) {
  if (!Fits(b, off, 3)) return false;
  *out = LoadU24Be(b.data() + off);
  return true;
}
inline bool ReadU32Be(Bytes b, size_t off, uint32_t* out) {
  if (!Fits(b, off, 4)) return false;
  *out = LoadU32Be(b.data() + off);
  return true;
}

}  // namespace hvq::jet

#endif  // HVQ_JET_BYTE_ORDER_H_
