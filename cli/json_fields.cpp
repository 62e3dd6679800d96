#include "cli/json_fields.h"

#include "platform/text_format.h"

namespace vn {

nlohmann::ordered_json IdentityJson(const FileIdentity& identity) {
  return {{"identForNocheck", identity.identForNocheck},
          {"manufactureIdent", identity.manufactureIdent},
          {"hardwareModule", identity.hardwareModule},
          {"hardwareVersion", identity.hardwareVersion},
          {"softwareModule", identity.softwareModule},
          {"softwareVersion", identity.softwareVersion}};
}

nlohmann::ordered_json LinkCountersJson(const LinkCounters& counters) {
  return {{"bytesSent", counters.bytesSent},       {"bytesReceived", counters.bytesReceived},
          {"framesResent", counters.framesResent}, {"naksSent", counters.naksSent},
          {"naksReceived", counters.naksReceived}, {"timeouts", counters.timeouts}};
}

std::string JsonText(const nlohmann::ordered_json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string OneLine(const nlohmann::ordered_json& object) {
  return JsonText(object, -1);
}

bool IsUtf8(const std::string& text) {
  try {
    (void)nlohmann::ordered_json(text).dump();
    return true;
  } catch (const nlohmann::ordered_json::type_error&) {
    return false;
  }
}

void AddExactBytes(nlohmann::ordered_json& object, const std::string& key,
                   const std::string& name) {
  if (IsUtf8(name)) return;
  object[key + "Bytes"] = HexBytes(name);
}

}  // namespace vn
