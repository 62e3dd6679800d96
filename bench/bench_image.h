#pragma once
// The flash image the benchmarks pack their upgrade files from, made here so that the benchmarks
// need nothing from the tests.
#include <cstdint>
#include <cstring>
#include <vector>

#include "dld/region_sets.h"

namespace vn {

// A 2 MiB image that compresses to about half, like firmware does: 4 KiB pages of noise, erased
// flash, tables and text, in a fixed irregular order.
inline std::vector<uint8_t> BenchFlashImage() {
  static const char* const kWords[] = {"tuner ",  "channel ", "service ", "lnb ", "diseqc ",
                                       "symbol ", "rate ",    "audio ",   "pid ", "scan "};
  std::vector<uint8_t> image(kFlashSize);
  uint32_t noise = 0x2468ACE1u;
  for (size_t page = 0; page < image.size() / 4096; ++page) {
    uint8_t* bytes = image.data() + page * 4096;
    switch ((page * 7 + page / 5) % 5) {
      case 0:
      case 1:
        for (size_t i = 0; i < 4096; ++i) {
          noise = noise * 1664525u + 1013904223u;
          bytes[i] = uint8_t(noise >> 24);
        }
        break;
      case 2:
        std::memset(bytes, 0xFF, 4096);
        break;
      case 3:
        for (size_t i = 0; i < 4096; ++i) bytes[i] = uint8_t((i * (page % 13 + 3)) >> 4);
        break;
      default:
        for (size_t i = 0; i < 4096;) {
          noise = noise * 1664525u + 1013904223u;
          for (const char* w = kWords[(noise >> 20) % 10]; *w && i < 4096; ++w) bytes[i++] = *w;
        }
        break;
    }
  }
  return image;
}

}  // namespace vn
