#include "records/report_facts.h"

#include <cctype>
#include <fstream>

#include "platform/file_kind.h"
#include "records/box_columns.h"
#include "records/record_line_scan.h"

namespace vn {
namespace {

using json = nlohmann::ordered_json;

std::string TextAt(const json& record, const char* key) {
  const auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double NumberAt(const json& record, const char* key) {
  const auto it = record.find(key);
  return it != record.end() && it->is_number() ? it->get<double>() : -1;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string NormalizedTime(const std::string& text) {
  // Digits where the pattern has 9, the pattern's own character elsewhere; the date is required.
  static const std::string pattern = "9999-99-99T99:99:99.999";
  std::string time = text;
  if (!time.empty() && (time.back() == 'Z' || time.back() == 'z')) time.pop_back();
  if (time.size() > 10 && time[10] == ' ') time[10] = 'T';
  if (time.size() < 10 || time.size() > pattern.size()) return {};
  for (size_t i = 0; i < time.size(); ++i) {
    const bool digit = std::isdigit((unsigned char)time[i]) != 0;
    if (pattern[i] == '9' ? !digit : time[i] != pattern[i]) return {};
  }
  // A time that stops inside a field ("10:3") is no time.
  if (time.size() < pattern.size() && pattern[time.size()] == '9') return {};
  static const std::string zero = "0000-00-00T00:00:00.000";
  return time + zero.substr(time.size()) + "Z";
}

bool ReportFilter::Passes(const BoxFacts& facts) const {
  if (!since.empty() && facts.start < since) return false;
  if (!until.empty() && facts.start >= until) return false;
  if (!port.empty() && facts.port != port) return false;
  if (!firmware.empty()) {
    const bool sha = firmware.size() >= 4 && facts.sha256.starts_with(firmware);
    if (!sha && facts.file != firmware && BaseName(facts.file) != firmware) return false;
  }
  return true;
}

BoxFacts FactsOfRecord(const json& record) {
  BoxFacts facts;
  facts.id = RecordIdOf(record);
  facts.start = TextAt(record, "start");
  facts.host = TextAt(record, "host");
  facts.port = TextAt(record, "port");
  facts.file = TextAt(record, "file");
  facts.sha256 = TextAt(record, "sha256");
  facts.result = TextAt(record, "result");
  facts.failureKind = TextAt(record, "failureKind");
  facts.failure = TextAt(record, "failure");
  facts.seconds = NumberAt(record, "seconds");
  facts.efficiency = NumberAt(record, "efficiency");
  return facts;
}

Failure ReadReportSource(const RecordTarget& source, const ReportFilter& filter,
                         const FactsSink& sink, int64_t& skipped) {
  if (source.kind != RecordTargetKind::kJsonLines) {
    return ReadDatabaseFacts(source, filter, sink);
  }
  if (const std::string kind = NonFileProblem(source.location); !kind.empty()) {
    return FailureSaying(FailureKind::kWrongKind, kind, source.location);
  }
  std::ifstream in(source.location, std::ios::binary);
  if (!in) return FailureOfErrno(errno, "cannot read", source.location);
  std::string line;
  BoxFacts scanned;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (ScanRecordLine(line, scanned)) {
      if (filter.Passes(scanned)) sink(scanned);
      continue;
    }
    const json record = json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object() || !record.contains("result")) {
      ++skipped;
      continue;
    }
    const BoxFacts facts = FactsOfRecord(record);
    if (filter.Passes(facts)) sink(facts);
  }
  if (in.bad()) return FailureOfErrno(errno, "cannot read", source.location);
  return {};
}

#ifndef VESPANODE_DATABASE
Failure ReadDatabaseFacts(const RecordTarget& source, const ReportFilter&, const FactsSink&) {
  return FailureSaying(FailureKind::kOther,
                       "records in a database are not built into this vespanode-cli: use a "
                       "JSON-lines file",
                       source.shown);
}

Failure ReadDatabaseRecords(const RecordTarget& source, const std::string&, int,
                            const std::function<void(nlohmann::json)>&) {
  return ReadDatabaseFacts(source, {}, {});
}
#endif

}  // namespace vn
