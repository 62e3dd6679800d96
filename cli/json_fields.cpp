#include "cli/json_fields.h"

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

std::string OneLine(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace vn
