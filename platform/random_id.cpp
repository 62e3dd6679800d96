#include "platform/random_id.h"

namespace vn {

std::string UuidOfBytes(std::array<uint8_t, 16> bytes) {
  bytes[6] = uint8_t((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = uint8_t((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (at == 4 || at == 6 || at == 8 || at == 10) text += '-';
    text += kHex[bytes[at] >> 4];
    text += kHex[bytes[at] & 0x0F];
  }
  return text;
}

}  // namespace vn
