#pragma once
// One line of `--record FILE`: what one box got on one port, written as a JSON object.
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "dld/file_identity.h"
#include "dld/region_sets.h"
#include "link/link_counters.h"

namespace vn {

// Raised whenever a field is added, renamed or dropped; the README lists what each version changed.
inline constexpr int kRecordSchemaVersion = 1;

// How a box ended: a stop request (SIGINT, SIGTERM) fails no box, and a lost port is a failure,
// as the run's summary counts them.
enum class BoxResult { kFailure, kSuccess, kStopped };

struct BoxRecord {
  std::string port;                            // as given on the command line
  Operation operation = Operation::kDownload;  // written as "download" or the set name ...
  std::string operationWord;                   // ... unless a task names itself: "verify"
  int box = 0;                                 // 1 for the port's first box in this run
  std::chrono::system_clock::time_point start{};
  std::chrono::system_clock::time_point end{};
  std::string file;          // the file sent, or the one written
  std::string fileSha256;    // lowercase hex; empty when the file could not be read
  bool headerKnown = false;  // false when no header was read (a box lost before it)
  FileIdentity identity;     // the header's identity fields
  int kindCode = 0;
  int partitionCount = 0;
  BoxResult result = BoxResult::kFailure;
  std::string failure;  // the failure's status text; only for kFailure
  std::string reason;   // what the system said, when it said more, or what cut the box short
  std::string phase;    // the last phase reached: "connect", "verify", "transfer", ...
  LinkCounters counters;
  double seconds = 0;     // start to end
  double efficiency = 0;  // the transfer's line time over its wall time; 0: not timed
};

// The record as one JSON object on one line, without the newline: schema version, ISO 8601
// UTC times with milliseconds, and every field above. Texts that are not UTF-8 keep their valid
// parts, the rest as U+FFFD. Empty only when memory ran out: it never throws.
std::string BoxRecordJson(const BoxRecord& record);
// The same record as an object, for a stream that carries it inside another.
nlohmann::ordered_json BoxRecordObject(const BoxRecord& record);

}  // namespace vn
