#pragma once
// Times as records and people write them, read in one place: the report's --since and --until,
// the times of the records it counts, and the line page's `since` all mean the same instant by
// the same text. A time with an offset is moved to UTC, and a date that does not exist is no
// time, so that neither a "+02:00" nor a "2026-02-30" can pass for another instant.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace vn {

// Milliseconds since 1970-01-01T00:00:00Z.
using UtcMillis = int64_t;
inline constexpr UtcMillis kNoTime = std::numeric_limits<UtcMillis>::min();

// A date "2026-12-08", optionally followed (after "T" or a space) by the hour, then minutes,
// seconds and up to nine digits of fraction (cut to milliseconds), and then an offset from UTC:
// "Z", "+02", "+02:00" or "+0200"; a time without an offset is UTC. Years 0000 to 9999.
// Nothing for any other text, or for a date or time of day that does not exist.
std::optional<UtcMillis> ParseTime(std::string_view text);

// The records' own form of a time, "2026-12-08T10:30:00.000Z": times in it compare as text.
std::string RecordTimeText(UtcMillis time);

// The records' form of `text`; empty when it is no time (ParseTime).
std::string NormalizedTime(std::string_view text);

}  // namespace vn
