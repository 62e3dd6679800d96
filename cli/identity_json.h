#pragma once
// A header's identity in JSON, under the same names wherever the tool writes JSON.
#include <nlohmann/json.hpp>

#include "dld/file_identity.h"

namespace vn {

// identForNocheck, manufactureIdent, hardwareModule, hardwareVersion, softwareModule and
// softwareVersion, in that order; the texts as the header holds them, UTF-8 or not.
nlohmann::ordered_json IdentityJson(const FileIdentity& identity);

}  // namespace vn
