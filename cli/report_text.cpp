#include "cli/report_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "records/display_text.h"

namespace vn {
namespace {

using json = nlohmann::ordered_json;

constexpr size_t kNameWidth = 30;
constexpr size_t kTerminalHours = 24;  // the latest hours; the HTML page has them all
constexpr size_t kTerminalRows = 10;   // failure and station lists, largest first

// Characters, not bytes: a name's UTF-8 (and the U+FFFD that stands for a control) takes one
// column a character.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (const char c : text) count += (uint8_t(c) & 0xC0) != 0x80;
  return count;
}

std::string Fitted(const std::string& name, size_t width = kNameWidth) {
  const size_t length = Characters(name);
  if (length <= width) return name + std::string(width - length, ' ');
  // The end of a path tells more than its start.
  size_t from = name.size();
  for (size_t kept = 0; from > 0 && kept < width - 3;) {
    kept += (uint8_t(name[--from]) & 0xC0) != 0x80;
  }
  return "..." + name.substr(from);
}

std::string RightAligned(const std::string& text, size_t width) {
  return std::string(width - std::min(width, Characters(text)), ' ') + text;
}

std::string Number(const json& value, int decimals = 3) {
  if (value.is_null()) return "-";
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  const double number = value.get<double>();
  char text[40];
  // Beyond a billion, fixed digits would outgrow any column.
  std::snprintf(text, sizeof text, std::fabs(number) < 1e9 ? "%.*f" : "%.*g",
                std::fabs(number) < 1e9 ? decimals : 4, number);
  return text;
}

// A table's columns of counts; "Unknown" only when some box has a result this program does not
// know, to keep 80 columns otherwise.
struct Columns {
  bool unknown = false;
};

std::string CountsRow(const std::string& name, const json& counts, const Columns& columns) {
  std::string row = Fitted(DisplayText(name));
  for (const auto& [key, width] :
       {std::pair{"boxes", 7}, {"succeeded", 9}, {"failed", 7}, {"stopped", 7}, {"unknown", 7}}) {
    if (key == std::string("unknown") && !columns.unknown) continue;
    row += " " + RightAligned(Number(counts[key]), size_t(width));
  }
  return row + " " + RightAligned(PercentText(counts["yield"]), 7) + "\n";
}

std::string CountsTable(const std::string& title, const json& rows,
                        const std::function<std::string(const json&)>& name, const Columns& columns,
                        size_t limit = SIZE_MAX) {
  std::string text = "\n" + Fitted(title) + "   Boxes Succeeded  Failed Stopped" +
                     (columns.unknown ? " Unknown" : "") + "   Yield\n";
  size_t shown = 0;
  for (const json& row : rows) {
    if (shown++ == limit) break;
    text += CountsRow(name(row), row, columns);
  }
  return text;
}

std::string RankedTable(const std::string& title, const json& rows, const char* key) {
  std::string text = "\n" + Fitted(title, 60) + "  Boxes\n";
  size_t shown = 0;
  for (const json& row : rows) {
    if (shown++ == kTerminalRows) break;
    text += Fitted(DisplayText(row[key].get<std::string>()), 60) + " " +
            RightAligned(Number(row["boxes"]), 7) + "\n";
  }
  return text;
}

std::string StationName(const json& row) {
  return (row["host"].is_string() ? row["host"].get<std::string>() + " " : "") +
         row["port"].get<std::string>();
}

// The hours at the end of the report: the latest 24, said when there were more.
std::string HoursTable(const json& hours, const Columns& columns) {
  json latest = json::array();
  const size_t from = hours.size() > kTerminalHours ? hours.size() - kTerminalHours : 0;
  for (size_t i = from; i < hours.size(); ++i) latest.push_back(hours[i]);
  std::string title = "Hour (UTC)";
  std::string text;
  if (from > 0) {
    text = "\nThe latest " + std::to_string(kTerminalHours) + " of " +
           std::to_string(hours.size()) + " hours; --html and --json have them all:";
  }
  return text + CountsTable(
                    title, latest,
                    [](const json& row) {
                      const std::string hour = row["hour"];
                      return hour.empty() ? std::string("(no start)") : hour + ":00";
                    },
                    columns);
}

std::string Summary(const json& report) {
  std::string text = "Boxes " + Number(report["boxes"]) + ": " + Number(report["succeeded"]) +
                     " succeeded, " + Number(report["failed"]) + " failed, " +
                     Number(report["stopped"]) + " stopped";
  if (report["unknown"].get<int64_t>() > 0) {
    text += ", " + Number(report["unknown"]) + " of unknown result";
  }
  text += "; yield " + PercentText(report["yield"]) + "\n";
  const std::string operation = report["filter"]["operation"];
  text += operation == "all" ? "Every operation counted\n"
                             : "Counted: " + operation + " boxes (--operation)\n";
  if (report["first"].is_string()) {
    const json& end = report["lastEnd"].is_string() ? report["lastEnd"] : report["last"];
    text += "From the first start " + report["first"].get<std::string>() + " to the last end " +
            end.get<std::string>() + " (" + Number(report["spanHours"], 1) + " h)\n";
  }
  text += "Boxes per hour " + Number(report["boxesPerHour"], 1) + " over that span; median " +
          Number(report["medianSeconds"], 1) + " s per box\n";
  const json& efficiency = report["efficiency"];
  text += "Efficiency: median " + Number(efficiency["median"]) + ", 5th percentile " +
          Number(efficiency["p5"]) + " (" + Number(efficiency["timed"]) + " boxes timed)\n";
  if (report["duplicates"].get<int64_t>() > 0) {
    text += Number(report["duplicates"]) + " record(s) found more than once, counted once";
    if (report["conflicts"].get<int64_t>() > 0) {
      text += "; " + Number(report["conflicts"]) + " differed: the copy that ended last counted";
    }
    text += "\n";
  }
  return text;
}

}  // namespace

std::string PercentText(const json& yield) {
  if (!yield.is_number()) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", yield.get<double>() * 100);
  return text;
}

std::string FirmwareName(const json& row) {
  std::string name = row["sha256"].is_string() ? row["sha256"].get<std::string>().substr(0, 12)
                                               : std::string("(no SHA-256)");
  std::string names;
  for (const json& file : row["files"]) {
    const std::string path = file.get<std::string>();
    const std::string base = path.substr(path.find_last_of("/\\") + 1);
    if ((", " + names + ",").find(", " + base + ",") == std::string::npos) {
      names += (names.empty() ? "" : ", ") + base;
    }
  }
  return names.empty() ? name : name + " " + names;
}

std::string ReportText(const json& report) {
  std::string text = Summary(report);
  Columns columns;
  for (const json& row : report["operations"]) {
    columns.unknown = columns.unknown || row["unknown"].get<int64_t>() > 0;
  }
  text += CountsTable(
      "Operation (every box)", report["operations"],
      [](const json& row) { return row["operation"]; }, columns);
  text += CountsTable(
      "Port", report["ports"], [](const json& row) { return row["port"]; }, columns);
  text += CountsTable("Firmware (SHA-256, names)", report["firmware"], FirmwareName, columns);
  if (!report["failureKinds"].empty()) {
    text += RankedTable("Failures by kind", report["failureKinds"], "failureKind");
    text += RankedTable("Failures by status text", report["failureTexts"], "failure");
  }
  text += HoursTable(report["hours"], columns);
  text += CountsTable("Worst stations", report["stations"], StationName, columns, kTerminalRows);
  return text;
}

}  // namespace vn
