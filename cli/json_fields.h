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

// The one writer of every JSON the tool prints or stores: `indent` spaces per level, or all on one
// line when negative. Texts from files, device names and the command line need not be UTF-8:
// such bytes become U+FFFD instead of an exception.
std::string JsonText(const nlohmann::ordered_json& value, int indent);
// The object on one line.
std::string OneLine(const nlohmann::ordered_json& object);

// Whether the text is valid UTF-8, as the writer judges it.
bool IsUtf8(const std::string& text);
// A port or file name is written under its key with U+FFFD for bytes that are not UTF-8; the exact
// name then follows under key + "Bytes" as lowercase hex, two digits per byte, so that it can
// still be recovered. Nothing is added for a UTF-8 name.
void AddExactBytes(nlohmann::ordered_json& object, const std::string& key, const std::string& name);

}  // namespace vn
