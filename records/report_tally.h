#pragma once
// The report's figures, counted while the records stream past: totals, yield per port, station
// and firmware, failures by kind and by status text, boxes per hour, and the spread of the times
// and efficiencies. A record met in more than one source counts once, by its id.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
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

  void Add(const std::string& result);
};

class ReportTally {
 public:
  // Counts the box unless a box of that id was counted before.
  void Add(const BoxFacts& facts);

  // The report as one object (docs/schema/report.schema.json). `sources` are shown as given.
  nlohmann::ordered_json Report(const std::vector<std::string>& sources,
                                const ReportFilter& filter) const;

  int64_t Duplicates() const { return duplicates_; }

 private:
  std::unordered_set<uint64_t> seen_;  // the ids' hashes: a million ids in a few MB
  int64_t duplicates_ = 0;
  ResultCounts total_;
  std::map<std::string, ResultCounts> ports_;
  std::map<std::pair<std::string, std::string>, ResultCounts> stations_;  // host, port
  std::map<std::pair<std::string, std::string>, ResultCounts> firmware_;  // file, sha256
  std::map<std::string, int64_t> failureKinds_;
  std::map<std::string, int64_t> failureTexts_;
  std::map<std::string, ResultCounts> hours_;  // "2026-12-08T10"
  std::vector<float> seconds_;
  std::vector<float> efficiency_;
  std::string first_;
  std::string last_;
};

// The value at fraction `q` (0..1) of the sorted values, by the nearest rank; -1 for none.
double Quantile(std::vector<float>& values, double q);

}  // namespace vn
