#include <windows.h>

#include <bcrypt.h>

#include <random>

#include "platform/random_id.h"

namespace vn {

std::string NewRecordId() {
  std::array<uint8_t, 16> bytes{};
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data(), ULONG(bytes.size()),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    std::random_device device;
    for (uint8_t& byte : bytes) byte = uint8_t(device());
  }
  return UuidOfBytes(bytes);
}

}  // namespace vn
