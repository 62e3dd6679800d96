#pragma once
// One line of `--record FILE`: what one box got on one port, written as a JSON object.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "dld/file_identity.h"
#include "dld/region_sets.h"
#include "link/box_outcome.h"

namespace vn {

// Raised whenever a field is added, renamed or dropped; the README lists what each version changed.
inline constexpr int kRecordSchemaVersion = 2;

struct BoxRecord {
  std::string recordId;                        // a UUID made once for this record
  std::string host;                            // the PC's name
  std::string port;                            // as given on the command line
  Operation operation = Operation::kDownload;  // written as "download" or the set name ...
  std::string operationWord;                   // ... unless a task names itself: "verify"
  std::string file;                            // sent, written or compared with; empty: none
  std::string fileSha256;    // lowercase hex; empty when the file could not be read
  bool headerKnown = false;  // false when no header was read (a box lost before it)
  FileIdentity identity;     // the header's identity fields
  int kindCode = 0;
  int partitionCount = 0;
  // How the box ended, as the run that served it told: its number, times, result, failure kind,
  // status text, the system's words and the link's tallies.
  BoxOutcome outcome;
  double efficiency = 0;  // the transfer's line time over its wall time; 0: not timed
  // A verify's regions read back, and how many of them differ from the file; none otherwise.
  std::optional<int> regionsChecked;
  std::optional<int> regionsDiffering;
};

// The record as an object: schema version, ISO 8601 UTC times with milliseconds, and every field
// above. Texts that are not UTF-8 are written by the one JSON writer (json_fields.h).
nlohmann::ordered_json BoxRecordObject(const BoxRecord& record);

}  // namespace vn
