#include "cli/box_record.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/json_fields.h"
#include "link/link_event.h"
#include "platform/text_format.h"

namespace vn {
namespace {

// Ordered, so that a person reading the file sees who, what and when before the figures.
using json = nlohmann::ordered_json;

// Figures to the digits that mean something, so that the lines stay short and readable. Dividing
// by a whole number gives the double nearest to the decimal, so 0.3 is written "0.3".
double Rounded(double value, double perUnit) {
  return std::round(value * perUnit) / perUnit;
}

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json CountOrNull(const std::optional<int>& count) {
  return count ? json(*count) : json(nullptr);
}

json HeaderJson(const BoxRecord& record) {
  if (!record.headerKnown) return nullptr;
  json header = IdentityJson(record.identity);
  header["kindCode"] = record.kindCode;
  header["partitionCount"] = record.partitionCount;
  return header;
}

}  // namespace

json BoxRecordObject(const BoxRecord& record) {
  const BoxOutcome& outcome = record.outcome;
  const bool failed = outcome.result == BoxResult::kFailure;
  const char* kind = outcome.Succeeded() ? nullptr : BoxFailureKindName(outcome.failureKind);
  json line = {
      {"schema", kRecordSchemaVersion},
      {"recordId", record.recordId},
      {"host", record.host},
      {"start", IsoUtc(outcome.start)},
      {"end", IsoUtc(outcome.end)},
      {"port", record.port},
      {"operation", record.operationWord.empty() ? std::string(OperationWord(record.operation))
                                                 : record.operationWord},
      {"box", outcome.box},
      {"file", TextOrNull(record.file)},
      {"sha256", TextOrNull(record.fileSha256)},
      {"header", HeaderJson(record)},
      {"result", BoxResultName(outcome.result)},
      {"failure", failed ? json(outcome.statusText) : json(nullptr)},
      {"failureKind", kind ? json(kind) : json(nullptr)},
      {"reason", TextOrNull(OutcomeReason(outcome))},
      {"phase", PhaseName(outcome.phase)},
  };
  AddExactBytes(line, "port", record.port);
  AddExactBytes(line, "file", record.file);
  // The link's tallies stand at the top level of a record, beside its figures.
  line.update(LinkCountersJson(outcome.link));
  line["meanAnswerDelayMs"] = Rounded(outcome.link.MeanAnswerDelayMs(), 10);
  line["seconds"] = Rounded(outcome.seconds, 1000);
  // A transfer too short to time (or none at all) has no efficiency to speak of.
  line["efficiency"] =
      record.efficiency > 0 ? json(Rounded(record.efficiency, 1000)) : json(nullptr);
  line["regionsChecked"] = CountOrNull(record.regionsChecked);
  line["regionsDiffering"] = CountOrNull(record.regionsDiffering);
  return line;
}

}  // namespace vn
