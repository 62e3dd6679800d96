#pragma once
// The report's two faces besides its JSON: lines for a terminal (80 columns) and one
// self-contained HTML page with its charts as inline SVG. Both are drawn from the report object
// alone, so that every number they show is the one --json gives.
#include <nlohmann/json.hpp>
#include <string>

namespace vn {

std::string ReportText(const nlohmann::ordered_json& report);
std::string ReportHtml(const nlohmann::ordered_json& report);

// A yield (0..1 or null) as "97.3%" or "-".
std::string PercentText(const nlohmann::ordered_json& yield);

// A firmware row's label: its SHA-256's first 12 digits and the names it was given under.
std::string FirmwareName(const nlohmann::ordered_json& row);

}  // namespace vn
