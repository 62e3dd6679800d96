#include "cli/identity_json.h"

namespace vn {

nlohmann::ordered_json IdentityJson(const FileIdentity& identity) {
  return {{"identForNocheck", identity.identForNocheck},
          {"manufactureIdent", identity.manufactureIdent},
          {"hardwareModule", identity.hardwareModule},
          {"hardwareVersion", identity.hardwareVersion},
          {"softwareModule", identity.softwareModule},
          {"softwareVersion", identity.softwareVersion}};
}

}  // namespace vn
