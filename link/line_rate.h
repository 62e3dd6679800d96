#pragma once
// The line's pace, which every wait, drain and efficiency figure works from: 115200 bit/s, and
// eleven bits a byte (start bit, 8 data bits, even parity, stop bit).
#include <chrono>
#include <cstdint>

namespace vn {

inline constexpr int64_t kLineBitRate = 115200;
inline constexpr int64_t kLineBitsPerByte = 11;
inline constexpr double kLineBytesPerSecond = double(kLineBitRate) / double(kLineBitsPerByte);
inline constexpr double kLineSecondsPerByte = 1.0 / kLineBytesPerSecond;

// The time `bytes` take on the line, rounded up to the microsecond.
constexpr std::chrono::microseconds LineTime(int64_t bytes) {
  return std::chrono::microseconds((bytes * kLineBitsPerByte * 1'000'000 + kLineBitRate - 1) /
                                   kLineBitRate);
}

}  // namespace vn
