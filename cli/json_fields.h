#pragma once
// The pieces every JSON the tool writes shares: the same names for the same things, and one way
// of putting an object on a line.
#include <nlohmann/json.hpp>
#include <string>

#include "dld/file_identity.h"
#include "link/link_counters.h"

namespace vn {

// identForNocheck, manufactureIdent, hardwareModule, hardwareVersion, softwareModule and
// softwareVersion, in that order; the texts as the header holds them, UTF-8 or not.
nlohmann::ordered_json IdentityJson(const FileIdentity& identity);

// bytesSent, bytesReceived, framesResent, naksSent, naksReceived and timeouts, in that order.
nlohmann::ordered_json LinkCountersJson(const LinkCounters& counters);

// The object on one line. Texts from files, device names and the command line need not be UTF-8:
// such bytes become U+FFFD instead of an exception.
std::string OneLine(const nlohmann::ordered_json& object);

}  // namespace vn
