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

void ResultCounts::Add(const std::string& result) {
  ++boxes;
  if (result == "success") {
    ++succeeded;
  } else if (result == "stopped") {
    ++stopped;
  } else {
    ++failed;
  }
}

double Quantile(std::vector<float>& values, double q) {
  if (values.empty()) return -1;
  const size_t rank = size_t(std::ceil(q * double(values.size())));
  const size_t at = rank == 0 ? 0 : rank - 1;
  std::nth_element(values.begin(), values.begin() + long(at), values.end());
  return values[at];
}

void ReportTally::Add(const BoxFacts& facts) {
  if (!seen_.insert(std::hash<std::string>()(facts.id)).second) {
    ++duplicates_;
    return;
  }
  total_.Add(facts.result);
  ports_[facts.port].Add(facts.result);
  stations_[{facts.host, facts.port}].Add(facts.result);
  firmware_[{facts.file, facts.sha256}].Add(facts.result);
  if (facts.result == "failure") {
    ++failureKinds_[facts.failureKind.empty() ? "unknown" : facts.failureKind];
    ++failureTexts_[facts.failure.empty() ? "(none)" : facts.failure];
  }
  hours_[facts.start.substr(0, 13)].Add(facts.result);
  if (facts.seconds >= 0) seconds_.push_back(float(facts.seconds));
  if (facts.efficiency > 0) efficiency_.push_back(float(facts.efficiency));
  if (first_.empty() || facts.start < first_) first_ = facts.start;
  if (last_.empty() || facts.start > last_) last_ = facts.start;
}

json ReportTally::Report(const std::vector<std::string>& sources,
                         const ReportFilter& filter) const {
  json report = {{"schema", kReportSchemaVersion}, {"sources", sources},
                 {"filter", FilterJson(filter)}};
  report.update(CountsJson(total_));
  report["duplicates"] = duplicates_;
  report["first"] = first_.empty() ? json(nullptr) : json(first_);
  report["last"] = last_.empty() ? json(nullptr) : json(last_);

  json ports = json::array();
  for (const auto& [port, counts] : ports_) ports.push_back(WithCounts({{"port", port}}, counts));
  report["ports"] = ports;
  json firmware = json::array();
  for (const auto& [key, counts] : firmware_) {
    firmware.push_back(WithCounts(
        {{"file", key.first}, {"sha256", key.second.empty() ? json(nullptr) : json(key.second)}},
        counts));
  }
  report["firmware"] = firmware;
  // Worst first: the lowest yield, then the most failures.
  std::vector<std::pair<std::pair<std::string, std::string>, ResultCounts>> stations(
      stations_.begin(), stations_.end());
  const auto yieldOf = [](const ResultCounts& c) {
    const int64_t decided = c.succeeded + c.failed;
    return decided == 0 ? 2.0 : double(c.succeeded) / double(decided);
  };
  std::stable_sort(stations.begin(), stations.end(), [&](const auto& a, const auto& b) {
    if (yieldOf(a.second) != yieldOf(b.second)) return yieldOf(a.second) < yieldOf(b.second);
    return a.second.failed > b.second.failed;
  });
  json worst = json::array();
  for (const auto& [key, counts] : stations) {
    worst.push_back(WithCounts(
        {{"host", key.first.empty() ? json(nullptr) : json(key.first)}, {"port", key.second}},
        counts));
  }
  report["stations"] = worst;
  report["failureKinds"] = Ranked(failureKinds_, "failureKind");
  report["failureTexts"] = Ranked(failureTexts_, "failure");

  json hours = json::array();
  for (const auto& [hour, counts] : hours_) hours.push_back(WithCounts({{"hour", hour}}, counts));
  report["hours"] = hours;
  report["boxesPerHour"] =
      hours_.empty() ? json(nullptr) : json(Rounded(double(total_.boxes) / hours_.size(), 10));
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

}  // namespace vn
