#include "records/box_columns.h"

#include <cmath>
#include <span>

#include "platform/file_digest.h"

namespace vn {

// docs/schema/boxes.sql, built in (boxes_sql.cpp is generated from it).
extern const char* const kBoxesSql;

namespace {

using json = nlohmann::ordered_json;

const json* Field(const json& record, const char* pointer) {
  const json::json_pointer at(pointer);
  return record.contains(at) ? &record.at(at) : nullptr;
}

ColumnValue ValueOf(const json* field, ColumnType type) {
  ColumnValue value;
  if (!field || field->is_null()) return value;
  switch (type) {
    case ColumnType::kText:
    case ColumnType::kTime:
      if (!field->is_string()) return value;
      value.text = field->get<std::string>();
      break;
    case ColumnType::kInteger:
      if (!field->is_number_integer()) return value;
      value.integer = field->get<int64_t>();
      value.text = std::to_string(value.integer);
      break;
    case ColumnType::kReal: {
      if (!field->is_number()) return value;
      value.real = field->get<double>();
      if (!std::isfinite(value.real)) return value;
      value.text = json(value.real).dump();
      break;
    }
    case ColumnType::kJson:
      value.text = field->dump(-1, ' ', false, json::error_handler_t::replace);
      break;
  }
  value.null = false;
  return value;
}

}  // namespace

const std::vector<BoxColumn>& BoxColumns() {
  static const std::vector<BoxColumn> columns = {
      {"record_id", "/recordId", ColumnType::kText},
      {"host", "/host", ColumnType::kText},
      {"schema", "/schema", ColumnType::kInteger},
      {"start_time", "/start", ColumnType::kTime},
      {"end_time", "/end", ColumnType::kTime},
      {"port", "/port", ColumnType::kText},
      {"operation", "/operation", ColumnType::kText},
      {"box", "/box", ColumnType::kInteger},
      {"file", "/file", ColumnType::kText},
      {"sha256", "/sha256", ColumnType::kText},
      {"ident_for_nocheck", "/header/identForNocheck", ColumnType::kInteger},
      {"manufacture_ident", "/header/manufactureIdent", ColumnType::kText},
      {"hardware_module", "/header/hardwareModule", ColumnType::kText},
      {"hardware_version", "/header/hardwareVersion", ColumnType::kText},
      {"software_module", "/header/softwareModule", ColumnType::kText},
      {"software_version", "/header/softwareVersion", ColumnType::kText},
      {"kind_code", "/header/kindCode", ColumnType::kInteger},
      {"partition_count", "/header/partitionCount", ColumnType::kInteger},
      {"result", "/result", ColumnType::kText},
      {"failure_kind", "/failureKind", ColumnType::kText},
      {"failure", "/failure", ColumnType::kText},
      {"reason", "/reason", ColumnType::kText},
      {"phase", "/phase", ColumnType::kText},
      {"bytes_sent", "/bytesSent", ColumnType::kInteger},
      {"bytes_received", "/bytesReceived", ColumnType::kInteger},
      {"frames_resent", "/framesResent", ColumnType::kInteger},
      {"naks_sent", "/naksSent", ColumnType::kInteger},
      {"naks_received", "/naksReceived", ColumnType::kInteger},
      {"timeouts", "/timeouts", ColumnType::kInteger},
      {"mean_answer_delay_ms", "/meanAnswerDelayMs", ColumnType::kReal},
      {"seconds", "/seconds", ColumnType::kReal},
      {"efficiency", "/efficiency", ColumnType::kReal},
      {"regions_checked", "/regionsChecked", ColumnType::kInteger},
      {"regions_differing", "/regionsDiffering", ColumnType::kInteger},
      {"record", "", ColumnType::kJson},
  };
  return columns;
}

std::string RecordIdOf(const json& record) {
  if (const json* id = Field(record, "/recordId"); id && id->is_string() && !id->empty()) {
    return id->get<std::string>();
  }
  std::string key;
  for (const char* pointer : {"/port", "/start", "/box", "/operation"}) {
    const json* field = Field(record, pointer);
    key += (field ? field->dump() : "null") + "\n";
  }
  std::string digest;
  Failure unused;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  if (!BufferSha256(bytes, digest, unused) || digest.size() < 32) digest = std::string(32, '0');
  // The shape of a name-based UUID (version 8: made by our own rule), so that every id in the
  // column looks alike.
  digest[12] = '8';
  digest[16] = "89ab"[std::stoi(digest.substr(16, 1), nullptr, 16) & 3];
  return digest.substr(0, 8) + "-" + digest.substr(8, 4) + "-" + digest.substr(12, 4) + "-" +
         digest.substr(16, 4) + "-" + digest.substr(20, 12);
}

std::vector<ColumnValue> BoxColumnValues(const json& record) {
  std::vector<ColumnValue> values;
  values.reserve(BoxColumns().size());
  for (const BoxColumn& column : BoxColumns()) {
    values.push_back(ValueOf(Field(record, column.pointer), column.type));
  }
  values.front().null = false;
  values.front().text = RecordIdOf(record);
  return values;
}

Failure NewerTablesFailure(int version, const std::string& subject) {
  return FailureSaying(FailureKind::kDamaged,
                       "the database's tables are of version " + std::to_string(version) +
                           ", newer than this program's " + std::to_string(kBoxesSchemaVersion) +
                           ": write to it with a newer vespanode-cli",
                       subject);
}

std::string BoxesDdl(const std::string& engine) {
  const std::string sql = kBoxesSql;
  const std::string marker = "-- engine: ";
  const size_t start = sql.find(marker + engine + "\n");
  if (start == std::string::npos) return {};
  const size_t end = sql.find(marker, start + marker.size());
  return sql.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace vn
