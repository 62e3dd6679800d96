#include "cli/box_record.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/identity_json.h"

namespace vn {
namespace {

// Ordered, so that a person reading the file sees who, what and when before the figures.
using json = nlohmann::ordered_json;

// "2026-12-07T13:52:58.123Z": sorts as text, and every tool reading the file takes it.
std::string IsoUtc(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto millis = floor<milliseconds>(when);
  const auto day = floor<days>(millis);
  const year_month_day date{day};
  const hh_mm_ss time{millis - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()),
                int(time.subseconds().count()));
  return text;
}

// Figures to the digits that mean something, so that the lines stay short and readable. Dividing
// by a whole number gives the double nearest to the decimal, so 0.3 is written "0.3".
double Rounded(double value, double perUnit) {
  return std::round(value * perUnit) / perUnit;
}

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json HeaderJson(const BoxRecord& record) {
  if (!record.headerKnown) return nullptr;
  json header = IdentityJson(record.identity);
  header["kindCode"] = record.kindCode;
  header["partitionCount"] = record.partitionCount;
  return header;
}

}  // namespace

std::string BoxRecordJson(const BoxRecord& record) {
  try {
    const LinkCounters& counters = record.counters;
    const json line = {
        {"schema", kRecordSchemaVersion},
        {"start", IsoUtc(record.start)},
        {"end", IsoUtc(record.end)},
        {"port", record.port},
        {"operation", record.operation},
        {"box", record.box},
        {"file", record.file},
        {"sha256", TextOrNull(record.fileSha256)},
        {"header", HeaderJson(record)},
        {"result", record.success ? "success" : "failure"},
        {"failure", record.success ? json(nullptr) : json(record.failure)},
        {"reason", TextOrNull(record.reason)},
        {"phase", record.phase},
        {"bytesSent", counters.bytesSent},
        {"bytesReceived", counters.bytesReceived},
        {"framesResent", counters.framesResent},
        {"naksSent", counters.naksSent},
        {"naksReceived", counters.naksReceived},
        {"timeouts", counters.timeouts},
        {"meanAnswerDelayMs", Rounded(counters.MeanAnswerDelayMs(), 10)},
        {"seconds", Rounded(record.seconds, 1000)},
        // A transfer too short to time (or none at all) has no efficiency to speak of.
        {"efficiency",
         record.efficiency > 0 ? json(Rounded(record.efficiency, 1000)) : json(nullptr)},
    };
    // Names and header texts come from the command line and from files, and need not be UTF-8:
    // such bytes become U+FFFD instead of costing the record.
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (...) {
    return {};
  }
}

}  // namespace vn
