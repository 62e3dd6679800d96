#pragma once
// Names that no two records share: random UUIDs from the system's cryptographic generator.
#include <array>
#include <cstdint>
#include <string>

namespace vn {

// A version 4 UUID, lowercase, 36 characters ("3f2b...-...."). Made once per record, so that a
// record read from several places counts once.
std::string NewRecordId();

// The UUID of 16 random bytes: version and variant bits set, written in the 8-4-4-4-12 form.
std::string UuidOfBytes(std::array<uint8_t, 16> bytes);

}  // namespace vn
