#pragma once
// What the line page shows, worked out from the objects of the `--json` stream: each station's
// state, its counts, its last failure and its link's health, and the line's totals. Plain data
// and one digest function; the server keeps it under its own lock.
#include <chrono>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vn::http {

// One port the run serves, as the page names it.
struct RunPort {
  std::string port;     // as given on the command line
  std::string comName;  // the device it stands for ("COM1" -> /dev/ttyS0), or the same
};

// What the run is about, told once when the server starts.
struct RunDescription {
  std::string command;              // "download" or "upload"
  std::string file;                 // the file sent, or the one written
  std::string fileSha256;           // lowercase hex; empty when unknown (an upload)
  nlohmann::ordered_json identity;  // the file's identity fields, or null
  std::string host;                 // the PC's name
  std::vector<RunPort> ports;
};

// The bounds of the box-duration histogram, in seconds.
inline constexpr double kDurationBounds[] = {5, 10, 20, 30, 45, 60, 90, 120, 180, 300, 600};
inline constexpr size_t kDurationBoundCount = std::size(kDurationBounds);

struct StationState {
  RunPort names;
  std::string state = "waiting";  // one of StationStateNames()
  int percent = 0;
  int box = 0;
  bool engaged = false;  // the current box answered and a transfer began
  bool boxEnded = false;
  int boxesDone = 0;
  int boxesFailed = 0;
  int boxesStopped = 0;
  std::string status;  // the last status text
  std::string detail;  // the last detail: what the system said beyond the status text
  // The last failure.
  bool failed = false;
  std::string failureText;
  std::string failureReason;
  std::string failureKind;  // empty: not told
  std::string failureTime;
  // The link's health: the last box's efficiency, the current box's tallies.
  double efficiency = -1;  // below 0: not timed yet
  int64_t boxBytesSent = 0;
  int boxFramesResent = 0;
  int boxTimeouts = 0;
  // Whole-run sums of the boxes whose records came, for the counters.
  int64_t bytesSentEnded = 0;
  int64_t framesResentEnded = 0;
  int64_t timeoutsEnded = 0;
  uint64_t durationBuckets[kDurationBoundCount] = {};
  uint64_t durationCount = 0;
  double durationSum = 0;
  bool ended = false;  // the port's run is over
  bool changed = false;
};

// "waiting", "connect", "verify", "transfer", "erase", "program", "success", "failure",
// "stopped", "closed": every state a station can be in, in the order the metrics list them.
const std::vector<std::string>& StationStateNames();

class LineState {
 public:
  explicit LineState(RunDescription run);

  // One object of the stream (already parsed). Objects for ports the run does not serve are
  // ignored. Returns whether it concerned a station.
  bool Digest(const nlohmann::json& object);

  const RunDescription& Run() const { return run_; }
  const std::vector<StationState>& Stations() const { return stations_; }
  std::vector<StationState>& Stations() { return stations_; }
  // The records of this run's boxes, in the order they ended.
  const std::vector<nlohmann::json>& Records() const { return records_; }

  // A station as the API and the page show it (docs/schema/stations.schema.json).
  static nlohmann::ordered_json StationJson(const StationState& station);
  // The run and its totals: the page's header.
  nlohmann::ordered_json LineJson(std::chrono::system_clock::time_point now) const;

 private:
  StationState* Find(const std::string& port);
  void DigestEvent(StationState& station, const nlohmann::json& object);
  void DigestRecord(StationState& station, const nlohmann::json& record);

  RunDescription run_;
  std::chrono::system_clock::time_point started_;
  std::vector<StationState> stations_;
  std::map<std::string, size_t> byPort_;
  std::vector<nlohmann::json> records_;
};

}  // namespace vn::http
