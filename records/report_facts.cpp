#include "records/report_facts.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "dld/region_sets.h"
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

// A time as the record writes it: a text, or anything else but null as its JSON, which no time
// reads.
std::string TimeAt(const json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end() || it->is_null()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump();
}

double NumberAt(const json& record, const char* key) {
  const auto it = record.find(key);
  return it != record.end() && it->is_number() ? it->get<double>() : kNoFigure;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A time in the records' form and as an instant, or none at all; false for a time that cannot be
// read.
bool ReadTime(std::string& text, UtcMillis& time) {
  time = kNoTime;
  if (text.empty()) return true;
  const std::optional<UtcMillis> read = ParseTime(text);
  if (!read) return false;
  time = *read;
  // Nearly every time is written in the records' form already: it stays as it is.
  const bool recordForm =
      text.size() == 24 && text[10] == 'T' && text[19] == '.' && text[23] == 'Z';
  if (!recordForm) text = RecordTimeText(time);
  return true;
}

bool ShaStartsWith(const std::string& sha256, const std::string& prefix) {
  if (prefix.size() < 4 || prefix.size() > sha256.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower((unsigned char)prefix[i]) != std::tolower((unsigned char)sha256[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ReadTimes(BoxFacts& facts) {
  // A time that cannot be read is kept as the record wrote it, to be shown.
  return ReadTime(facts.start, facts.startTime) && ReadTime(facts.end, facts.endTime);
}

void SkippedLines::AddBadTime(const BoxFacts& facts) {
  ++count;
  if (badTimes++ == 0) firstBadTime = NormalizedTime(facts.start).empty() ? facts.start : facts.end;
}

bool ReportFilter::Passes(const BoxFacts& facts) const {
  if (!since.empty() && facts.start < since) return false;
  if (!until.empty() && facts.start >= until) return false;
  if (!port.empty() && facts.port != port) return false;
  if (!firmware.empty()) {
    const bool sha = ShaStartsWith(facts.sha256, firmware);
    if (!sha && facts.file != firmware && BaseName(facts.file) != firmware) return false;
  }
  return true;
}

std::string OperationKind(const std::string& operation) {
  if (operation == "download" || operation == "verify" || operation == "identify") {
    return operation;
  }
  return OperationOfSetName(operation) ? "upload" : operation;
}

std::string FirmwareFilterProblem(const std::string& firmware) {
  const bool hex = std::all_of(firmware.begin(), firmware.end(),
                               [](char c) { return std::isxdigit((unsigned char)c) != 0; });
  return hex && firmware.size() < 4
             ? "a SHA-256 prefix needs at least 4 hex digits; a file's name or path is taken too"
             : std::string();
}

BoxFacts FactsOfRecord(const json& record) {
  BoxFacts facts;
  facts.id = RecordIdOf(record);
  facts.start = TimeAt(record, "start");
  facts.end = TimeAt(record, "end");
  facts.host = TextAt(record, "host");
  facts.port = TextAt(record, "port");
  facts.file = TextAt(record, "file");
  facts.sha256 = TextAt(record, "sha256");
  facts.operation = TextAt(record, "operation");
  facts.result = TextAt(record, "result");
  facts.failureKind = TextAt(record, "failureKind");
  facts.failure = TextAt(record, "failure");
  facts.seconds = NumberAt(record, "seconds");
  facts.efficiency = NumberAt(record, "efficiency");
  return facts;
}

Failure ReadReportSource(const RecordTarget& source, const ReportFilter& filter,
                         const FactsSink& sink, SkippedLines& skipped) {
  if (source.kind != RecordTargetKind::kJsonLines) {
    return ReadDatabaseFacts(source, filter, sink, skipped);
  }
  if (const std::string kind = NonFileProblem(source.location); !kind.empty()) {
    return FailureSaying(FailureKind::kWrongKind, kind, source.location);
  }
  std::ifstream in(source.location, std::ios::binary);
  if (!in) return FailureOfErrno(errno, "cannot read", source.location);
  std::string line;
  BoxFacts facts;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (!ScanRecordLine(line, facts)) {
      const json record = json::parse(line, nullptr, false);
      if (record.is_discarded() || !record.is_object() || !record.contains("result")) {
        ++skipped.count;
        continue;
      }
      facts = FactsOfRecord(record);
    }
    if (!ReadTimes(facts)) {
      skipped.AddBadTime(facts);
    } else if (filter.Passes(facts)) {
      sink(facts);
    }
  }
  if (in.bad()) return FailureOfErrno(errno, "cannot read", source.location);
  return {};
}

#ifndef VESPANODE_DATABASE
Failure ReadDatabaseFacts(const RecordTarget& source, const ReportFilter&, const FactsSink&,
                          SkippedLines&) {
  return FailureSaying(FailureKind::kOther,
                       "records in a database are not built into this vespanode-cli: use a "
                       "JSON-lines file",
                       source.shown);
}

Failure ReadDatabaseRecords(const RecordTarget& source, const std::string&, int,
                            const std::function<void(nlohmann::json)>&) {
  SkippedLines unused;
  return ReadDatabaseFacts(source, {}, {}, unused);
}
#endif

}  // namespace vn
