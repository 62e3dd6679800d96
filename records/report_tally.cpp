#include "records/report_tally.h"

#include <algorithm>
#include <cmath>

namespace vn {
namespace {

using json = nlohmann::ordered_json;

// Efficiency in tenths, for the distribution's bars.
constexpr int kEfficiencyBins = 10;

double Rounded(double value, double perUnit) {
  return std::round(value * perUnit) / perUnit;
}

json YieldOf(const ResultCounts& counts) {
  const int64_t decided = counts.succeeded + counts.failed;
  return decided == 0 ? json(nullptr) : json(Rounded(double(counts.succeeded) / decided, 10000));
}

json CountsJson(const ResultCounts& counts) {
  return {{"boxes", counts.boxes},
          {"succeeded", counts.succeeded},
          {"failed", counts.failed},
          {"stopped", counts.stopped},
          {"yield", YieldOf(counts)}};
}

json WithCounts(json object, const ResultCounts& counts) {
  object.update(CountsJson(counts));
  return object;
}

json Ranked(const std::map<std::string, int64_t>& counts, const char* key) {
  std::vector<std::pair<std::string, int64_t>> rows(counts.begin(), counts.end());
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  json list = json::array();
  for (const auto& [name, boxes] : rows) list.push_back({{key, name}, {"boxes", boxes}});
  return list;
}

json OrNull(double value, double perUnit) {
  return value < 0 ? json(nullptr) : json(Rounded(value, perUnit));
}

json FilterJson(const ReportFilter& filter) {
  const auto textOrNull = [](const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
  };
  return {{"since", textOrNull(filter.since)},
          {"until", textOrNull(filter.until)},
          {"port", textOrNull(filter.port)},
          {"firmware", textOrNull(filter.firmware)}};
}

}  // namespace

void ResultCounts::Add(const std::string& result, int64_t count) {
  boxes += count;
  if (result == "success") {
    succeeded += count;
  } else if (result == "stopped") {
    stopped += count;
  } else {
    failed += count;
  }
}

double Quantile(std::vector<float>& values, double q) {
  if (values.empty()) return -1;
  const size_t rank = size_t(std::ceil(q * double(values.size())));
  const size_t at = rank == 0 ? 0 : rank - 1;
  std::nth_element(values.begin(), values.begin() + long(at), values.end());
  return values[at];
}

size_t BoxGroupHash::operator()(const BoxGroup& group) const {
  size_t hash = 0;
  for (const std::string* part : {&group.host, &group.port, &group.file, &group.sha256, &group.hour,
                                  &group.result, &group.failureKind, &group.failure}) {
    hash = hash * 1000003u ^ std::hash<std::string>()(*part);
  }
  return hash;
}

void ReportTally::Add(const BoxFacts& facts) {
  if (dedup_ && !seen_.insert(std::hash<std::string>()(facts.id)).second) {
    ++duplicates_;
    return;
  }
  scratch_.host = facts.host;
  scratch_.port = facts.port;
  scratch_.file = facts.file;
  scratch_.sha256 = facts.sha256;
  scratch_.hour.assign(facts.start, 0, 13);
  scratch_.result = facts.result;
  scratch_.failureKind = facts.failureKind;
  scratch_.failure = facts.failure;
  AddGroup(scratch_, 1, facts.start, facts.start);
  AddTimes(facts.seconds, facts.efficiency);
}

void ReportTally::AddGroup(const BoxGroup& group, int64_t boxes, const std::string& first,
                           const std::string& last) {
  groups_[group] += boxes;
  if (!first.empty() && (first_.empty() || first < first_)) first_ = first;
  if (last_.empty() || last > last_) last_ = last;
}

void ReportTally::AddTimes(double seconds, double efficiency) {
  if (seconds >= 0) seconds_.push_back(float(seconds));
  if (efficiency > 0) efficiency_.push_back(float(efficiency));
}

json ReportTally::Report(const std::vector<std::string>& sources,
                         const ReportFilter& filter) const {
  ResultCounts total;
  std::map<std::string, ResultCounts> ports;
  std::map<std::pair<std::string, std::string>, ResultCounts> stations;  // host, port
  std::map<std::pair<std::string, std::string>, ResultCounts> firmware;  // file, sha256
  std::map<std::string, int64_t> failureKinds;
  std::map<std::string, int64_t> failureTexts;
  std::map<std::string, ResultCounts> hours;
  for (const auto& [group, boxes] : groups_) {
    for (ResultCounts* counts : {&total, &ports[group.port], &stations[{group.host, group.port}],
                                 &firmware[{group.file, group.sha256}], &hours[group.hour]}) {
      counts->Add(group.result, boxes);
    }
    if (group.result == "failure") {
      failureKinds[group.failureKind.empty() ? "unknown" : group.failureKind] += boxes;
      failureTexts[group.failure.empty() ? "(none)" : group.failure] += boxes;
    }
  }
  json report = {
      {"schema", kReportSchemaVersion}, {"sources", sources}, {"filter", FilterJson(filter)}};
  report.update(CountsJson(total));
  report["duplicates"] = duplicates_;
  report["first"] = first_.empty() ? json(nullptr) : json(first_);
  report["last"] = last_.empty() ? json(nullptr) : json(last_);

  json portRows = json::array();
  for (const auto& [port, counts] : ports) portRows.push_back(WithCounts({{"port", port}}, counts));
  report["ports"] = portRows;
  json firmwareRows = json::array();
  for (const auto& [key, counts] : firmware) {
    firmwareRows.push_back(WithCounts(
        {{"file", key.first}, {"sha256", key.second.empty() ? json(nullptr) : json(key.second)}},
        counts));
  }
  report["firmware"] = firmwareRows;
  // Worst first: the lowest yield, then the most failures.
  std::vector<std::pair<std::pair<std::string, std::string>, ResultCounts>> worstFirst(
      stations.begin(), stations.end());
  const auto yieldOf = [](const ResultCounts& c) {
    const int64_t decided = c.succeeded + c.failed;
    return decided == 0 ? 2.0 : double(c.succeeded) / double(decided);
  };
  std::stable_sort(worstFirst.begin(), worstFirst.end(), [&](const auto& a, const auto& b) {
    if (yieldOf(a.second) != yieldOf(b.second)) return yieldOf(a.second) < yieldOf(b.second);
    return a.second.failed > b.second.failed;
  });
  json worst = json::array();
  for (const auto& [key, counts] : worstFirst) {
    worst.push_back(WithCounts(
        {{"host", key.first.empty() ? json(nullptr) : json(key.first)}, {"port", key.second}},
        counts));
  }
  report["stations"] = worst;
  report["failureKinds"] = Ranked(failureKinds, "failureKind");
  report["failureTexts"] = Ranked(failureTexts, "failure");

  json hourRows = json::array();
  for (const auto& [hour, counts] : hours) hourRows.push_back(WithCounts({{"hour", hour}}, counts));
  report["hours"] = hourRows;
  report["boxesPerHour"] =
      hours.empty() ? json(nullptr) : json(Rounded(double(total.boxes) / hours.size(), 10));
  std::vector<float> seconds = seconds_;
  std::vector<float> efficiency = efficiency_;
  report["medianSeconds"] = OrNull(Quantile(seconds, 0.5), 1000);
  std::vector<int64_t> bins(kEfficiencyBins, 0);
  for (float value : efficiency_) {
    ++bins[std::clamp(int(value * kEfficiencyBins), 0, kEfficiencyBins - 1)];
  }
  report["efficiency"] = {{"timed", int64_t(efficiency_.size())},
                          {"median", OrNull(Quantile(efficiency, 0.5), 1000)},
                          {"p5", OrNull(Quantile(efficiency, 0.05), 1000)},
                          {"tenths", bins}};
  return report;
}

#ifndef VESPANODE_DATABASE
Failure TallyDatabase(const RecordTarget& source, const ReportFilter& filter, ReportTally& tally) {
  int64_t skipped = 0;
  return ReadReportSource(
      source, filter, [&](const BoxFacts& facts) { tally.Add(facts); }, skipped);
}
#endif

}  // namespace vn
