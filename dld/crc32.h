#pragma once
// The one checksum of the system: CRC-32/MPEG-2 (polynomial 0x04C11DB7, MSB first,
// initial 0xFFFFFFFF, no final XOR). Stored everywhere as four bytes, least significant first.
#include <cstdint>

namespace vn {

extern const uint32_t CRC32_TABLE[256];

// CRC of the first `count` bytes; a count of 0 or less gives 0xFFFFFFFF without reading.
uint32_t CalcCrc32(const uint8_t* buffer, int32_t count);

}  // namespace vn
