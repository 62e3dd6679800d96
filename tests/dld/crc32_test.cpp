#include "dld/crc32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vn {
namespace {

const uint8_t* Text(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

TEST(Crc32, CheckValuesWhateverFollowsTheCount) {
  EXPECT_EQ(CalcCrc32(Text("123456789"), 9), 0x0376E6E7u);
  EXPECT_EQ(CalcCrc32(Text("abc"), 3), 0x9B73448Cu);
  uint8_t buffer[1024];
  std::memset(buffer, 0xA5, sizeof buffer);
  std::memcpy(buffer, "123456789", 9);
  EXPECT_EQ(CalcCrc32(buffer, 9), 0x0376E6E7u);
}

TEST(Crc32, EmptyOrNegativeCountReadsNothing) {
  EXPECT_EQ(CalcCrc32(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(CalcCrc32(nullptr, -1), 0xFFFFFFFFu);
  EXPECT_EQ(CalcCrc32(nullptr, INT32_MIN), 0xFFFFFFFFu);
}

// Every entry, derived from the polynomial bit by bit, so a mistyped constant shows up.
TEST(Crc32, TableMatchesPolynomial) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t reg = i << 24;
    for (int step = 0; step < 8; ++step)
      reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
    EXPECT_EQ(CRC32_TABLE[i], reg) << "entry " << i;
  }
}

}  // namespace
}  // namespace vn
