#pragma once
// The report's figures, counted while the records stream past: totals, yield per port, station
// and firmware, failures by kind and by status text, boxes per hour, and the spread of the times
// and efficiencies. A record met in more than one source counts once, by its id.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "records/report_facts.h"

namespace vn {

inline constexpr int kReportSchemaVersion = 1;

struct ResultCounts {
  int64_t boxes = 0;
  int64_t succeeded = 0;
  int64_t failed = 0;
  int64_t stopped = 0;

  void Add(const std::string& result, int64_t count = 1);
};

// What the report groups boxes by: boxes alike in all of these are counted together.
struct BoxGroup {
  std::string host;
  std::string port;
  std::string file;
  std::string sha256;
  std::string hour;  // "2026-12-08T10"
  std::string result;
  std::string failureKind;
  std::string failure;

  bool operator==(const BoxGroup&) const = default;
};

struct BoxGroupHash {
  size_t operator()(const BoxGroup& group) const;
};

class ReportTally {
 public:
  // `dedup` false: the boxes come from one database, whose table holds each id once, and the
  // ids need not be kept.
  explicit ReportTally(bool dedup = true) : dedup_(dedup) {}

  // Counts the box unless a box of that id was counted before.
  void Add(const BoxFacts& facts);
  // Boxes a database counted itself (it holds each id once): `boxes` of the group, started from
  // `first` to `last`.
  void AddGroup(const BoxGroup& group, int64_t boxes, const std::string& first,
                const std::string& last);
  // One box's figures, for the medians and the distribution (< 0: not known).
  void AddTimes(double seconds, double efficiency);

  // The report as one object (docs/schema/report.schema.json). `sources` are shown as given.
  nlohmann::ordered_json Report(const std::vector<std::string>& sources,
                                const ReportFilter& filter) const;

  int64_t Duplicates() const { return duplicates_; }

 private:
  bool dedup_;
  std::unordered_set<uint64_t> seen_;  // the ids' hashes: a million ids in a few MB
  int64_t duplicates_ = 0;
  // Few groups for many boxes: the per-port, per-station ... figures are summed from them at
  // the end, so that a box costs one lookup.
  std::unordered_map<BoxGroup, int64_t, BoxGroupHash> groups_;
  BoxGroup scratch_;
  std::vector<float> seconds_;
  std::vector<float> efficiency_;
  std::string first_;
  std::string last_;
};

// Counts a database's boxes, a server's grouped by the server: for a report of that database
// alone, whose record ids are unique by its table's key. A firmware filter is left to
// ReadReportSource.
Failure TallyDatabase(const RecordTarget& source, const ReportFilter& filter, ReportTally& tally);

// The value at fraction `q` (0..1) of the sorted values, by the nearest rank; -1 for none.
double Quantile(std::vector<float>& values, double q);

}  // namespace vn
