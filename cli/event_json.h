#pragma once
// The objects of `--json`: one per line, each with the schema's version, the port and a type.
// "event" is a LinkEvent as it happened; "box" is a box's record as `--record` writes it; "detail"
// says what a status text cannot; "summary" ends each port's run, whatever happened to it.
#include <nlohmann/json.hpp>
#include <string>

#include "link/link_event.h"

namespace vn {

// Raised whenever a field of any of the four objects is added, renamed or dropped; the README lists
// what each version changed.
inline constexpr int kEventSchemaVersion = 3;

std::string EventJson(const std::string& port, const LinkEvent& event);
std::string BoxJson(const std::string& port, const nlohmann::ordered_json& record);
std::string DetailJson(const std::string& port, int box, const std::string& what,
                       const std::string& text);
// `detail`: why the port's run ended as it did (it could not be opened, the port went away while
// no box was attached); empty when it did all that was asked.
std::string SummaryJson(const std::string& port, int done, int failed, bool opened, bool stopped,
                        bool portLost, const std::string& detail);

}  // namespace vn
