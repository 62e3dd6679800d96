#include "records/record_time.h"

#include <chrono>

#include "platform/text_format.h"

namespace vn {
namespace {

constexpr int64_t kMillisPerDay = 86400000;

constexpr UtcMillis MillisOf(std::chrono::sys_days day) {
  return int64_t(day.time_since_epoch().count()) * kMillisPerDay;
}

// `count` decimal digits at `at`.
bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// What follows the time of day: nothing or "Z" (UTC), or an offset; in minutes east of UTC.
bool ParseOffset(std::string_view rest, int& minutes) {
  minutes = 0;
  if (rest.empty() || rest == "Z" || rest == "z") return true;
  if (rest[0] != '+' && rest[0] != '-') return false;
  int hours = 0;
  if (!Digits(rest, 1, 2, hours)) return false;
  const bool plain = rest.size() == 3;
  const bool colon = rest.size() == 6 && rest[3] == ':' && Digits(rest, 4, 2, minutes);
  const bool compact = rest.size() == 5 && Digits(rest, 3, 2, minutes);
  if (!plain && !colon && !compact) return false;
  if (hours > 23 || minutes > 59) return false;
  minutes = (rest[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
  return true;
}

// The time of day after the date's "T": "10", "10:30", "10:30:15", "10:30:15.250" and then its
// offset; milliseconds since midnight UTC of the date (negative or past a day by the offset).
std::optional<int64_t> ParseTimeOfDay(std::string_view text) {
  int fields[3] = {0, 0, 0};  // hour, minute, second
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && (at >= text.size() || text[at] != ':')) break;
    if (i > 0) ++at;
    if (!Digits(text, at, 2, fields[i])) return std::nullopt;
    at += 2;
  }
  if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59) return std::nullopt;
  int64_t millis = 0;
  if (at == 8 && at < text.size() && text[at] == '.') {  // a fraction of a second only
    size_t digits = 0;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
      if (digits < 3) millis = millis * 10 + (text[at] - '0');
    }
    if (digits == 0 || digits > 9) return std::nullopt;
    for (; digits < 3; ++digits) millis *= 10;
  }
  int offset = 0;
  if (!ParseOffset(text.substr(at), offset)) return std::nullopt;
  return ((int64_t(fields[0]) * 60 + fields[1] - offset) * 60 + fields[2]) * 1000 + millis;
}

}  // namespace

std::optional<UtcMillis> ParseTime(std::string_view text) {
  int year = 0, month = 0, day = 0;
  if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day)) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                            std::chrono::day(unsigned(day))};
  if (!date.ok()) return std::nullopt;
  int64_t ofDay = 0;
  if (text.size() > 10) {
    if (text[10] != 'T' && text[10] != 't' && text[10] != ' ') return std::nullopt;
    const std::optional<int64_t> time = ParseTimeOfDay(text.substr(11));
    if (!time) return std::nullopt;
    ofDay = *time;
  }
  const UtcMillis time = MillisOf(sys_days(date)) + ofDay;
  // An offset may move a time out of the years the records' form can write.
  static constexpr UtcMillis kFirst = MillisOf(sys_days(std::chrono::year(0) / January / 1));
  static constexpr UtcMillis kEnd = MillisOf(sys_days(std::chrono::year(10000) / January / 1));
  if (time < kFirst || time >= kEnd) return std::nullopt;
  return time;
}

std::string RecordTimeText(UtcMillis time) {
  return IsoUtc(std::chrono::sys_time<std::chrono::milliseconds>(std::chrono::milliseconds(time)));
}

std::string NormalizedTime(std::string_view text) {
  const std::optional<UtcMillis> time = ParseTime(text);
  return time ? RecordTimeText(*time) : std::string();
}

}  // namespace vn
