#include <openssl/rand.h>

#include <random>

#include "platform/random_id.h"

namespace vn {

std::string NewRecordId() {
  std::array<uint8_t, 16> bytes{};
  if (RAND_bytes(bytes.data(), int(bytes.size())) != 1) {
    // The generator is not seeded (a machine without entropy yet): the system's device still
    // gives a different name to every record, which is all the name is for.
    std::random_device device;
    for (uint8_t& byte : bytes) byte = uint8_t(device());
  }
  return UuidOfBytes(bytes);
}

}  // namespace vn
