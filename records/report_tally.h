#pragma once
// The report's figures, counted while the records stream past: totals, yield per operation, port,
// station and firmware, failures by kind and by status text, boxes per hour, and the spread of the
// times and efficiencies. A record met more than once counts once, by its id; of copies that
// differ, the one that ended last is kept.
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/report_facts.h"

namespace vn {

inline constexpr int kReportSchemaVersion = 2;

struct ResultCounts {
  int64_t boxes = 0;
  int64_t succeeded = 0;
  int64_t failed = 0;
  int64_t stopped = 0;
  int64_t unknown = 0;  // a result this program does not know (a newer schema's word, a number)

  void Add(const std::string& result, int64_t count = 1);
};

// What the report groups boxes by: boxes alike in all of these are counted together.
struct BoxGroup {
  std::string host;
  std::string port;
  std::string file;
  std::string sha256;
  std::string operation;  // OperationKind's
  std::string hour;       // "2026-12-08T10", UTC
  std::string result;
  std::string failureKind;
  std::string failure;

  bool operator==(const BoxGroup&) const = default;
};

struct BoxGroupHash {
  size_t operator()(const BoxGroup& group) const;
};

// Where the boxes of the chosen operation lie in time, and their figures.
struct BoxSpread {
  UtcMillis firstStart = kNoTime;
  UtcMillis lastStart = kNoTime;
  UtcMillis lastEnd = kNoTime;
  std::vector<double> seconds;
  std::vector<double> efficiency;

  void AddSpan(UtcMillis first, UtcMillis lastStarted, UtcMillis lastEnded);
  void AddFigures(double boxSeconds, double boxEfficiency);
};

class ReportTally {
 public:
  // `dedup` false: the boxes come from one database, whose table holds each id once, and the
  // ids need not be kept.
  explicit ReportTally(ReportFilter filter = {}, bool dedup = true);

  // Counts the box (its times read, ReadTimes) once for its id.
  void Add(const BoxFacts& facts);
  // Boxes a database counted itself (it holds each id once): `boxes` of the group (its operation
  // as the records write it), started from `first` to `lastStart` and ended by `lastEnd`.
  void AddGroup(BoxGroup group, int64_t boxes, const std::string& first,
                const std::string& lastStart, const std::string& lastEnd);
  // One box's figures, for the medians and the distribution (kNoFigure: not known).
  void AddFigures(const std::string& operation, double seconds, double efficiency);

  // The report as one object (docs/schema/report.schema.json). `sources` are shown as given.
  nlohmann::ordered_json Report(const std::vector<std::string>& sources) const;

  int64_t Duplicates() const { return duplicates_; }
  // Ids met with different contents.
  int64_t Conflicts() const { return conflicts_; }

 private:
  // A box of a source read with others, as long as no later copy of it is met.
  struct Kept {
    uint64_t fingerprint;
    UtcMillis start;
    UtcMillis end;
    double seconds;
    double efficiency;
    uint32_t group;
    bool conflicted;
  };

  uint32_t GroupOf(const BoxGroup& group);
  bool Chosen(const std::string& operationKind) const;
  // An id's slot in `slots_`: its hash (never 0) and where its box is in `kept_`.
  struct Slot {
    uint64_t id = 0;  // 0: free
    uint32_t box = 0;
  };

  void Keep(uint64_t id, const Kept& box);
  void Replace(Kept& kept, const Kept& box);
  void GrowSlots();
  BoxSpread KeptSpread() const;

  ReportFilter filter_;
  bool dedup_;
  // The ids met, by their hash, in a table of open addressing: a million ids cost one cache miss
  // each and no allocation, where a node each took twice the time. The boxes in the order met.
  std::vector<Slot> slots_;
  std::deque<Kept> kept_;
  int64_t duplicates_ = 0;
  int64_t conflicts_ = 0;
  // Few groups for many boxes: the per-port, per-station ... figures are summed from them at
  // the end, so that a box costs one lookup.
  std::unordered_map<BoxGroup, uint32_t, BoxGroupHash> groupIndex_;
  std::vector<BoxGroup> groups_;
  std::vector<int64_t> groupBoxes_;
  // Of the boxes counted as they came (`dedup` false). Report takes their medians in place: the
  // order of the figures is no part of the tally.
  mutable BoxSpread spread_;
  BoxGroup scratch_;
};

// Counts a database's boxes, a server's grouped by the server: for a report of that database
// alone, whose record ids are unique by its table's key. A firmware filter is left to
// ReadReportSource.
Failure TallyDatabase(const RecordTarget& source, const ReportFilter& filter, ReportTally& tally,
                      SkippedLines& skipped);

// The value at fraction `q` (0..1) of the values, by the nearest rank: the smallest value with
// at least q of them at or below it; kNoFigure for none.
double Quantile(std::vector<double>& values, double q);
// The middle value, or the mean of the two middle values of an even count; kNoFigure for none.
double Median(std::vector<double>& values);

}  // namespace vn
