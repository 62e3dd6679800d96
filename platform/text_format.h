#pragma once
// Hex, times and lists of choices, written the same way on every floor; text only, no system call.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

namespace vn {

// Two lowercase digits a byte, `between` between them: digests and names that are not UTF-8
// (nothing between), the bytes of a traced message (a space).
inline std::string HexBytes(std::span<const uint8_t> bytes, std::string_view between = {}) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * (2 + between.size()));
  for (const uint8_t byte : bytes) {
    if (!hex.empty()) hex += between;
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

inline std::string HexBytes(std::string_view text) {
  return HexBytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// "0x" and at least `digits` uppercase digits: addresses and tags as people read them.
inline std::string HexNumber(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, unsigned(value));
  return text;
}

// "2026-12-07T13:52:58.123Z": UTC with `fractionDigits` (up to 6) after the seconds, cut off, not
// rounded; sorts as text, and every tool reading it takes it. Records keep milliseconds; a trace
// keeps microseconds, so that the traces of both ends of a line can be laid side by side. Any
// clock's precision: a time read from a record may lie beyond the nanosecond clock's centuries.
template <typename Duration>
std::string IsoUtc(std::chrono::sys_time<Duration> when, int fractionDigits = 3) {
  using namespace std::chrono;
  const auto micros = floor<microseconds>(when);
  const auto day = floor<days>(micros);
  const year_month_day date{day};
  const hh_mm_ss time{micros - day};
  int fraction = int(time.subseconds().count());
  for (int digits = 6; digits > fractionDigits; --digits) fraction /= 10;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%0*dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()), fractionDigits, fraction);
  return text;
}

// "a, b or c": a list of values as help texts and errors say it; `last` goes before the last one.
template <typename Names>
std::string ChoiceList(const Names& names, std::string_view last = " or ") {
  std::string said;
  size_t i = 0;
  for (const auto& name : names) {
    if (i > 0) said += i + 1 == std::size(names) ? last : std::string_view(", ");
    said += name;
    ++i;
  }
  return said;
}

}  // namespace vn
