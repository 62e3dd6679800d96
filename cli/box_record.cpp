#include "cli/box_record.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/json_fields.h"
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

const char* ResultName(BoxResult result) {
  switch (result) {
    case BoxResult::kSuccess:
      return "success";
    case BoxResult::kStopped:
      return "stopped";
    case BoxResult::kFailure:
      break;
  }
  return "failure";
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
  json line = {
      {"schema", kRecordSchemaVersion},
      {"start", IsoUtc(record.start)},
      {"end", IsoUtc(record.end)},
      {"port", record.port},
      {"operation", record.operationWord.empty() ? std::string(OperationWord(record.operation))
                                                 : record.operationWord},
      {"box", record.box},
      {"file", TextOrNull(record.file)},
      {"sha256", TextOrNull(record.fileSha256)},
      {"header", HeaderJson(record)},
      {"result", ResultName(record.result)},
      {"failure", record.result == BoxResult::kFailure ? json(record.failure) : json(nullptr)},
      {"reason", TextOrNull(record.reason)},
      {"phase", record.phase},
  };
  AddExactBytes(line, "port", record.port);
  AddExactBytes(line, "file", record.file);
  // The link's tallies stand at the top level of a record, beside its figures.
  line.update(LinkCountersJson(record.counters));
  line["meanAnswerDelayMs"] = Rounded(record.counters.MeanAnswerDelayMs(), 10);
  line["seconds"] = Rounded(record.seconds, 1000);
  // A transfer too short to time (or none at all) has no efficiency to speak of.
  line["efficiency"] =
      record.efficiency > 0 ? json(Rounded(record.efficiency, 1000)) : json(nullptr);
  return line;
}

std::string BoxRecordJson(const BoxRecord& record) {
  try {
    return OneLine(BoxRecordObject(record));
  } catch (...) {
    return {};
  }
}

}  // namespace vn
