#include "records/report_tally.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>
#include <set>

namespace vn {
namespace {

using json = nlohmann::ordered_json;

// Efficiency in tenths, for the distribution's bars.
constexpr int kEfficiencyBins = 10;
constexpr int64_t kMillisPerHour = 3600000;
// Hours without a box are listed between the first and the last box's hour when there are at
// most this many (a leap year's), so that a stoppage shows; a longer span lists only its busy
// hours.
constexpr int64_t kMostHoursListed = 366 * 24;

double Rounded(double value, double perUnit) {
  const double scaled = std::round(value * perUnit);
  return std::isfinite(scaled) ? scaled / perUnit : value;
}

// Figures that no arithmetic can use (an infinity read from a database) are not known.
double Figure(double value) {
  return std::isfinite(value) ? value : kNoFigure;
}

UtcMillis TimeOf(const std::string& time) {
  if (time.empty()) return kNoTime;
  return ParseTime(time).value_or(kNoTime);
}

std::string HourOf(UtcMillis time) {
  return RecordTimeText(time).substr(0, 13);
}

json YieldOf(const ResultCounts& counts) {
  const int64_t decided = counts.succeeded + counts.failed;
  return decided == 0 ? json(nullptr) : json(Rounded(double(counts.succeeded) / decided, 10000));
}

json WithCounts(json object, const ResultCounts& counts) {
  object.update(json{{"boxes", counts.boxes},
                     {"succeeded", counts.succeeded},
                     {"failed", counts.failed},
                     {"stopped", counts.stopped},
                     {"unknown", counts.unknown},
                     {"yield", YieldOf(counts)}});
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
  return std::isnan(value) ? json(nullptr) : json(Rounded(value, perUnit));
}

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json TimeOrNull(UtcMillis time) {
  return time == kNoTime ? json(nullptr) : json(RecordTimeText(time));
}

json FilterJson(const ReportFilter& filter) {
  return {{"since", TextOrNull(filter.since)},
          {"until", TextOrNull(filter.until)},
          {"port", TextOrNull(filter.port)},
          {"firmware", TextOrNull(filter.firmware)},
          {"operation", filter.operation}};
}

template <typename Bits>
size_t Mixed(size_t hash, const Bits& bits) {
  return hash * 1000003u ^ std::hash<Bits>()(bits);
}

// What a copy of a record says, as far as the report reads it: equal copies are one record met
// twice, different ones a conflict.
uint64_t Fingerprint(const BoxFacts& facts) {
  size_t hash = 0;
  for (const std::string* part :
       {&facts.start, &facts.end, &facts.host, &facts.port, &facts.file, &facts.sha256,
        &facts.operation, &facts.result, &facts.failureKind, &facts.failure}) {
    hash = Mixed(hash, *part);
  }
  for (const double figure : {Figure(facts.seconds), Figure(facts.efficiency)}) {
    hash = Mixed(hash, figure);
  }
  return hash;
}

// The boxes of the chosen operation summed by each of the report's rows.
struct Sums {
  ResultCounts total;
  std::map<std::string, ResultCounts> ports;
  std::map<std::pair<std::string, std::string>, ResultCounts> stations;  // host, port
  // By SHA-256 (or by file, for boxes without one): the names it was given under.
  std::map<std::pair<std::string, std::string>, std::pair<ResultCounts, std::set<std::string>>>
      firmware;
  std::map<std::string, int64_t> failureKinds;
  std::map<std::string, int64_t> failureTexts;
  std::map<std::string, ResultCounts> hours;

  void Add(const BoxGroup& group, int64_t boxes) {
    std::string sha = group.sha256;
    std::transform(sha.begin(), sha.end(), sha.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    auto& [firmwareCounts, names] = firmware[{sha, sha.empty() ? group.file : std::string()}];
    if (!group.file.empty()) names.insert(group.file);
    for (ResultCounts* counts : {&total, &ports[group.port], &stations[{group.host, group.port}],
                                 &firmwareCounts, &hours[group.hour]}) {
      counts->Add(group.result, boxes);
    }
    if (group.result == "failure") {
      failureKinds[group.failureKind.empty() ? "unknown" : group.failureKind] += boxes;
      failureTexts[group.failure.empty() ? "(none)" : group.failure] += boxes;
    }
  }
};

json FirmwareRows(const Sums& sums) {
  json rows = json::array();
  for (const auto& [key, value] : sums.firmware) {
    const auto& [counts, names] = value;
    rows.push_back(WithCounts({{"sha256", TextOrNull(key.first)},
                               {"files", json(std::vector(names.begin(), names.end()))}},
                              counts));
  }
  return rows;
}

// Worst first: the lowest yield, then the most failures.
json StationRows(const Sums& sums) {
  std::vector<std::pair<std::pair<std::string, std::string>, ResultCounts>> worstFirst(
      sums.stations.begin(), sums.stations.end());
  const auto yieldOf = [](const ResultCounts& c) {
    const int64_t decided = c.succeeded + c.failed;
    return decided == 0 ? 2.0 : double(c.succeeded) / double(decided);
  };
  std::stable_sort(worstFirst.begin(), worstFirst.end(), [&](const auto& a, const auto& b) {
    if (yieldOf(a.second) != yieldOf(b.second)) return yieldOf(a.second) < yieldOf(b.second);
    return a.second.failed > b.second.failed;
  });
  json rows = json::array();
  for (const auto& [key, counts] : worstFirst) {
    rows.push_back(WithCounts({{"host", TextOrNull(key.first)}, {"port", key.second}}, counts));
  }
  return rows;
}

// Every hour from the first box's to the last one's, those without a box too.
json HourRows(std::map<std::string, ResultCounts> hours, const BoxSpread& spread) {
  if (spread.firstStart != kNoTime) {
    const auto hourIndex = [](UtcMillis time) {
      return time / kMillisPerHour - (time % kMillisPerHour < 0 ? 1 : 0);
    };
    const int64_t first = hourIndex(spread.firstStart);
    const int64_t last = hourIndex(spread.lastStart);
    for (int64_t hour = first; last - first < kMostHoursListed && hour <= last; ++hour) {
      hours.try_emplace(HourOf(hour * kMillisPerHour));
    }
  }
  json rows = json::array();
  for (const auto& [hour, counts] : hours) rows.push_back(WithCounts({{"hour", hour}}, counts));
  return rows;
}

// Boxes per hour over the span from the first start to the last end, idle hours included.
void AddRates(json& report, int64_t boxes, const BoxSpread& spread) {
  const UtcMillis spanEnd = std::max(spread.lastStart, spread.lastEnd);
  const double hours = spread.firstStart == kNoTime
                           ? 0
                           : double(spanEnd - spread.firstStart) / double(kMillisPerHour);
  report["first"] = TimeOrNull(spread.firstStart);
  report["last"] = TimeOrNull(spread.lastStart);
  report["lastEnd"] = TimeOrNull(spread.lastEnd);
  report["spanHours"] = hours > 0 ? json(Rounded(hours, 1000)) : json(nullptr);
  report["boxesPerHour"] = hours > 0 ? json(Rounded(double(boxes) / hours, 10)) : json(nullptr);
}

// (The figures are reordered for their medians.)
void AddFiguresJson(json& report, BoxSpread& spread) {
  report["medianSeconds"] = OrNull(Median(spread.seconds), 1000);
  std::vector<int64_t> bins(kEfficiencyBins, 0);
  for (const double value : spread.efficiency) {
    ++bins[size_t(std::clamp(value * kEfficiencyBins, 0.0, kEfficiencyBins - 1.0))];
  }
  const int64_t timed = int64_t(spread.efficiency.size());
  const double median = Median(spread.efficiency);
  report["efficiency"] = {{"timed", timed},
                          {"median", OrNull(median, 1000)},
                          {"p5", OrNull(Quantile(spread.efficiency, 0.05), 1000)},
                          {"tenths", bins}};
}

}  // namespace

void ResultCounts::Add(const std::string& result, int64_t count) {
  boxes += count;
  if (result == "success") {
    succeeded += count;
  } else if (result == "failure") {
    failed += count;
  } else if (result == "stopped") {
    stopped += count;
  } else {
    unknown += count;
  }
}

void BoxSpread::AddSpan(UtcMillis first, UtcMillis lastStarted, UtcMillis lastEnded) {
  if (first != kNoTime && (firstStart == kNoTime || first < firstStart)) firstStart = first;
  lastStart = std::max(lastStart, lastStarted);
  lastEnd = std::max(lastEnd, lastEnded);
}

void BoxSpread::AddFigures(double boxSeconds, double boxEfficiency) {
  if (!std::isnan(boxSeconds)) seconds.push_back(boxSeconds);
  if (!std::isnan(boxEfficiency)) efficiency.push_back(boxEfficiency);
}

double Quantile(std::vector<double>& values, double q) {
  if (values.empty()) return kNoFigure;
  const size_t rank = size_t(std::ceil(q * double(values.size())));
  const size_t at = rank == 0 ? 0 : rank - 1;
  std::nth_element(values.begin(), values.begin() + long(at), values.end());
  return values[at];
}

double Median(std::vector<double>& values) {
  if (values.empty()) return kNoFigure;
  const auto middle = values.begin() + long(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return std::midpoint(*std::max_element(values.begin(), middle), *middle);
}

size_t BoxGroupHash::operator()(const BoxGroup& group) const {
  size_t hash = 0;
  for (const std::string* part :
       {&group.host, &group.port, &group.file, &group.sha256, &group.operation, &group.hour,
        &group.result, &group.failureKind, &group.failure}) {
    hash = Mixed(hash, *part);
  }
  return hash;
}

ReportTally::ReportTally(ReportFilter filter, bool dedup)
    : filter_(std::move(filter)), dedup_(dedup) {}

uint32_t ReportTally::GroupOf(const BoxGroup& group) {
  const auto [it, added] = groupIndex_.try_emplace(group, uint32_t(groups_.size()));
  if (added) {
    groups_.push_back(group);
    groupBoxes_.push_back(0);
  }
  return it->second;
}

bool ReportTally::Chosen(const std::string& operationKind) const {
  return filter_.operation == "all" || operationKind == filter_.operation;
}

void ReportTally::Add(const BoxFacts& facts) {
  scratch_.host = facts.host;
  scratch_.port = facts.port;
  scratch_.file = facts.file;
  scratch_.sha256 = facts.sha256;
  scratch_.operation = OperationKind(facts.operation);
  scratch_.hour.assign(facts.start, 0, 13);
  scratch_.result = facts.result;
  scratch_.failureKind = facts.failureKind;
  scratch_.failure = facts.failure;
  // (Only a box that may meet a copy of itself needs its fingerprint.)
  const Kept box{
      dedup_ ? Fingerprint(facts) : 0, facts.startTime,   facts.endTime, Figure(facts.seconds),
      Figure(facts.efficiency),        GroupOf(scratch_), false};
  if (dedup_) {
    Keep(std::hash<std::string>()(facts.id), box);
    return;
  }
  ++groupBoxes_[box.group];
  if (Chosen(groups_[box.group].operation)) {
    spread_.AddSpan(box.start, box.start, box.end);
    spread_.AddFigures(box.seconds, box.efficiency);
  }
}

void ReportTally::Keep(uint64_t id, const Kept& box) {
  id = std::max<uint64_t>(id, 1);
  // At most three quarters full, so that a probe ends soon.
  if ((kept_.size() + 1) * 4 > slots_.size() * 3) GrowSlots();
  const size_t mask = slots_.size() - 1;
  for (size_t at = id & mask;; at = (at + 1) & mask) {
    Slot& slot = slots_[at];
    if (slot.id == id) {
      ++duplicates_;
      Replace(kept_[slot.box], box);
      return;
    }
    if (slot.id == 0) {
      slot = {id, uint32_t(kept_.size())};
      kept_.push_back(box);
      ++groupBoxes_[box.group];
      return;
    }
  }
}

void ReportTally::Replace(Kept& kept, const Kept& box) {
  if (kept.fingerprint == box.fingerprint) return;
  if (!kept.conflicted) ++conflicts_;
  // The copy that ended last has the box's final word; a tie goes the same way in any order.
  if (std::tie(box.end, box.fingerprint) > std::tie(kept.end, kept.fingerprint)) {
    --groupBoxes_[kept.group];
    ++groupBoxes_[box.group];
    kept = box;
  }
  kept.conflicted = true;
}

void ReportTally::GrowSlots() {
  std::vector<Slot> old(std::max<size_t>(1024, slots_.size() * 2));
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.id == 0) continue;
    size_t at = slot.id & mask;
    while (slots_[at].id != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void ReportTally::AddGroup(BoxGroup group, int64_t boxes, const std::string& first,
                           const std::string& lastStart, const std::string& lastEnd) {
  group.operation = OperationKind(group.operation);
  groupBoxes_[GroupOf(group)] += boxes;
  if (Chosen(group.operation)) spread_.AddSpan(TimeOf(first), TimeOf(lastStart), TimeOf(lastEnd));
}

void ReportTally::AddFigures(const std::string& operation, double seconds, double efficiency) {
  if (Chosen(OperationKind(operation))) spread_.AddFigures(Figure(seconds), Figure(efficiency));
}

BoxSpread ReportTally::KeptSpread() const {
  BoxSpread spread;
  spread.seconds.reserve(kept_.size());
  spread.efficiency.reserve(kept_.size());
  for (const Kept& box : kept_) {
    if (!Chosen(groups_[box.group].operation)) continue;
    spread.AddSpan(box.start, box.start, box.end);
    spread.AddFigures(box.seconds, box.efficiency);
  }
  return spread;
}

json ReportTally::Report(const std::vector<std::string>& sources) const {
  Sums sums;
  std::map<std::string, ResultCounts> operations;
  for (size_t i = 0; i < groups_.size(); ++i) {
    if (groupBoxes_[i] == 0) continue;
    operations[groups_[i].operation.empty() ? "unknown" : groups_[i].operation].Add(
        groups_[i].result, groupBoxes_[i]);
    if (Chosen(groups_[i].operation)) sums.Add(groups_[i], groupBoxes_[i]);
  }
  // The boxes counted as they came, or those kept by their ids: never both.
  BoxSpread kept;
  BoxSpread& spread = dedup_ ? (kept = KeptSpread()) : spread_;
  json report = WithCounts(
      {{"schema", kReportSchemaVersion}, {"sources", sources}, {"filter", FilterJson(filter_)}},
      sums.total);
  report["duplicates"] = duplicates_;
  report["conflicts"] = conflicts_;
  AddRates(report, sums.total.boxes, spread);
  json operationRows = json::array();
  for (const auto& [operation, counts] : operations) {
    operationRows.push_back(WithCounts({{"operation", operation}}, counts));
  }
  report["operations"] = operationRows;
  json portRows = json::array();
  for (const auto& [port, counts] : sums.ports) {
    portRows.push_back(WithCounts({{"port", port}}, counts));
  }
  report["ports"] = portRows;
  report["firmware"] = FirmwareRows(sums);
  report["stations"] = StationRows(sums);
  report["failureKinds"] = Ranked(sums.failureKinds, "failureKind");
  report["failureTexts"] = Ranked(sums.failureTexts, "failure");
  report["hours"] = HourRows(sums.hours, spread);
  AddFiguresJson(report, spread);
  return report;
}

#ifndef VESPANODE_DATABASE
Failure TallyDatabase(const RecordTarget& source, const ReportFilter& filter, ReportTally& tally,
                      SkippedLines& skipped) {
  return ReadReportSource(
      source, filter, [&](const BoxFacts& facts) { tally.Add(facts); }, skipped);
}
#endif

}  // namespace vn
