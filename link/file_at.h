#pragma once
// Positioned reads and writes of an open upgrade file, for the frames of a transfer.
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vn {

// Exactly `count` bytes from `position` on; false on a bad position or a file too short.
bool ReadFileAt(std::FILE* file, int64_t position, uint8_t* destination, size_t count);
// All `count` bytes at `position`, flushed to the system; false when any step fails.
bool WriteFileAt(std::FILE* file, int64_t position, const uint8_t* bytes, size_t count);

}  // namespace vn
