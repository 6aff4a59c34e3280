// RC4 key schedule and key stream.
#include "jet/rc4.h"

#include <utility>

#include "jet/byte_order.h"

namespace hvq::jet {

Rc4::Rc4(std::span<const uint8_t> key) {
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  if (key.empty()) return;
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + key[k % key.size()]);
    std::swap(s_[k], s_[j]);
  }
}

void Rc4::Apply(std::span<uint8_t> data) {
  for (uint8_t& b : data) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    b ^= s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
  }
}

void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data) {
  Rc4 rc4(key);
  rc4.Apply(data);
}

std::array<uint8_t, 4> PageKey(uint32_t database_key, uint32_t page) {
  std::array<uint8_t, 4> key{};
  StoreU32Le(key.data(), database_key ^ page);
  return key;
}

}  // namespace hvq::jet
