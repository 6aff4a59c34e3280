// RC4 stream cipher, used by Jet for the masked header region and for
// whole-database page encryption. Applying it twice with the same key
// restores the input.
#ifndef HVQ_JET_RC4_H_
#define HVQ_JET_RC4_H_

#include <array>
#include <cstdint>
#include <span>

namespace hvq::jet {

class Rc4 {
 public:
  explicit Rc4(std::span<const uint8_t> key);
  // XORs `data` with the next bytes of the key stream.
  void Apply(std::span<uint8_t> data);

 private:
  std::array<uint8_t, 256> s_{};
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// One-shot: XORs `data` with the key stream of `key` from its start.
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

// Page encryption key: database key XOR page number, as 4 bytes LE.
std::array<uint8_t, 4> PageKey(uint32_t database_key, uint32_t page);

}  // namespace hvq::jet

#endif  // HVQ_JET_RC4_H_
