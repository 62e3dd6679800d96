#pragma once
// Little-endian field access for file blocks and wire frames (16-, 24- and 32-bit fields).
#include <cstdint>

namespace vn {

inline uint32_t GetLe16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t GetLe24(const uint8_t* p) { return GetLe16(p) | uint32_t(p[2]) << 16; }
inline uint32_t GetLe32(const uint8_t* p) { return GetLe24(p) | uint32_t(p[3]) << 24; }

inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLe24(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  p[2] = uint8_t(v >> 16);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe24(p, v);
  p[3] = uint8_t(v >> 24);
}

}  // namespace vn
