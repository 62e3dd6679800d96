#include "cli/report_text.h"

#include <cstdint>
#include <cstdio>
#include <functional>

namespace vn {
namespace {

using json = nlohmann::ordered_json;

constexpr size_t kNameWidth = 30;
constexpr size_t kTerminalHours = 24;  // the latest hours; the HTML page has them all
constexpr size_t kTerminalRows = 10;   // failure and station lists, largest first

std::string Fitted(const std::string& name, size_t width = kNameWidth) {
  if (name.size() <= width) return name + std::string(width - name.size(), ' ');
  // The end of a path tells more than its start.
  return "..." + name.substr(name.size() - (width - 3));
}

std::string Number(const json& value, const char* format = "%.3f") {
  if (value.is_null()) return "-";
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  char text[32];
  std::snprintf(text, sizeof text, format, value.get<double>());
  return text;
}

std::string CountsRow(const std::string& name, const json& counts) {
  char row[128];
  std::snprintf(row, sizeof row, "%s %7s %9s %7s %7s %7s\n", Fitted(name).c_str(),
                Number(counts["boxes"]).c_str(), Number(counts["succeeded"]).c_str(),
                Number(counts["failed"]).c_str(), Number(counts["stopped"]).c_str(),
                PercentText(counts["yield"]).c_str());
  return row;
}

std::string CountsTable(const std::string& title, const json& rows,
                        const std::function<std::string(const json&)>& name,
                        size_t limit = SIZE_MAX) {
  std::string text = "\n" + Fitted(title) + "   Boxes Succeeded  Failed Stopped   Yield\n";
  size_t shown = 0;
  for (const json& row : rows) {
    if (shown++ == limit) break;
    text += CountsRow(name(row), row);
  }
  return text;
}

std::string RankedTable(const std::string& title, const json& rows, const char* key) {
  std::string text = "\n" + Fitted(title, 60) + "  Boxes\n";
  size_t shown = 0;
  for (const json& row : rows) {
    if (shown++ == kTerminalRows) break;
    char line[128];
    std::snprintf(line, sizeof line, "%s %7s\n", Fitted(row[key].get<std::string>(), 60).c_str(),
                  Number(row["boxes"]).c_str());
    text += line;
  }
  return text;
}

std::string FirmwareName(const json& row) {
  const std::string file = row["file"].get<std::string>();
  const size_t slash = file.find_last_of("/\\");
  const std::string sha = row["sha256"].is_string() ? row["sha256"].get<std::string>() : "-";
  return file.substr(slash == std::string::npos ? 0 : slash + 1) + " " + sha.substr(0, 12);
}

std::string StationName(const json& row) {
  return (row["host"].is_string() ? row["host"].get<std::string>() + " " : "") +
         row["port"].get<std::string>();
}

}  // namespace

std::string PercentText(const json& yield) {
  if (!yield.is_number()) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", yield.get<double>() * 100);
  return text;
}

std::string ReportText(const json& report) {
  std::string text;
  char line[256];
  std::snprintf(line, sizeof line, "Boxes %s: %s succeeded, %s failed, %s stopped; yield %s\n",
                Number(report["boxes"]).c_str(), Number(report["succeeded"]).c_str(),
                Number(report["failed"]).c_str(), Number(report["stopped"]).c_str(),
                PercentText(report["yield"]).c_str());
  text += line;
  if (report["first"].is_string()) {
    text += "From " + report["first"].get<std::string>() + " to " +
            report["last"].get<std::string>() + "\n";
  }
  std::snprintf(line, sizeof line, "Boxes per hour %s; median %s s per box\n",
                Number(report["boxesPerHour"], "%.1f").c_str(),
                Number(report["medianSeconds"], "%.1f").c_str());
  text += line;
  const json& efficiency = report["efficiency"];
  std::snprintf(line, sizeof line, "Efficiency: median %s, 5th percentile %s (%s boxes timed)\n",
                Number(efficiency["median"]).c_str(), Number(efficiency["p5"]).c_str(),
                Number(efficiency["timed"]).c_str());
  text += line;
  if (report["duplicates"].get<int64_t>() > 0) {
    text +=
        Number(report["duplicates"]) + " record(s) found in more than one source, counted once\n";
  }
  text += CountsTable("Port", report["ports"], [](const json& row) { return row["port"]; });
  text += CountsTable("Firmware", report["firmware"], FirmwareName);
  if (!report["failureKinds"].empty()) {
    text += RankedTable("Failures by kind", report["failureKinds"], "failureKind");
    text += RankedTable("Failures by status text", report["failureTexts"], "failure");
  }
  const json& hours = report["hours"];
  json latest = json::array();
  for (size_t i = hours.size() > kTerminalHours ? hours.size() - kTerminalHours : 0;
       i < hours.size(); ++i) {
    latest.push_back(hours[i]);
  }
  text += CountsTable("Hour (UTC)", latest, [](const json& row) { return row["hour"]; });
  text += CountsTable("Worst stations", report["stations"], StationName, kTerminalRows);
  return text;
}

}  // namespace vn
