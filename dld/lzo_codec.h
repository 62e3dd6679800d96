#pragma once
// LZO1X, the compression of the data blocks' contents, through liblzo2.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vn {

// LZO1X-999: the smallest output, worth its time since every byte crosses a slow line.
std::vector<uint8_t> LzoCompress(std::span<const uint8_t> input);

// Expands a stream that must give exactly `expectedSize` bytes; nullopt when it is corrupt,
// runs past either buffer, or gives another size.
std::optional<std::vector<uint8_t>> LzoDecompress(std::span<const uint8_t> input,
                                                  uint32_t expectedSize);

}  // namespace vn
