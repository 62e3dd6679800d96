// The report as one HTML page: no script, nothing loaded from anywhere, its charts inline SVG, and
// a print style that keeps each chart on one page.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/report_text.h"
#include "records/display_text.h"

namespace vn {
namespace {

using json = nlohmann::ordered_json;

const char* const kStyle = R"css(
body { font-family: sans-serif; margin: 2em; color: #222; max-width: 60em; }
h1 { font-size: 1.5em; } h2 { font-size: 1.15em; margin-top: 1.6em; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { padding: 0.2em 0.7em; border-bottom: 1px solid #ddd; text-align: right; }
th:first-child, td:first-child { text-align: left; }
.totals td { font-size: 1.1em; }
svg { display: block; margin: 0.5em 0; }
svg text { font-family: sans-serif; font-size: 11px; fill: #222; }
.success { fill: #3a8f3a; } .failure { fill: #c0392b; } .stopped { fill: #999; }
.unknown { fill: #8e6bb8; } .idle { fill: #e0a030; } .axis { stroke: #888; }
.bar { fill: #4a6fa5; }
.legend span { display: inline-block; width: 0.9em; height: 0.9em; margin: 0 0.3em 0 1em; }
section { break-inside: avoid; page-break-inside: avoid; }
@media print { body { margin: 0; max-width: none; } h2 { break-after: avoid; } }
)css";

// Every text on the page passes here: what a record holds is shown, never taken for markup or
// for a control.
std::string Escaped(const std::string& raw) {
  const std::string text = DisplayText(raw);
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Num(const json& value) {
  if (value.is_null()) return "-";
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  char text[32];
  std::snprintf(text, sizeof text, "%g", value.get<double>());
  return text;
}

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A cell whose number the page's test reads back: data-value holds it as --json has it.
std::string Cell(const json& value, const std::string& shown) {
  return "<td data-value=\"" + Escaped(value.dump()) + "\">" + Escaped(shown) + "</td>";
}

std::string CountsRows(const json& rows, const std::function<std::string(const json&)>& name,
                       const std::string& table) {
  std::string html = "<table data-table=\"" + table +
                     "\"><tr><th></th><th>Boxes</th><th>Succeeded</th><th>Failed</th>"
                     "<th>Stopped</th><th>Unknown</th><th>Yield</th></tr>\n";
  for (const json& row : rows) {
    html += "<tr><td>" + Escaped(name(row)) + "</td>";
    for (const char* key : {"boxes", "succeeded", "failed", "stopped", "unknown"}) {
      html += Cell(row[key], Num(row[key]));
    }
    html += Cell(row["yield"], PercentText(row["yield"])) + "</tr>\n";
  }
  return html + "</table>\n";
}

// An hour's label under the chart: "10:00", or "12-08 10:00" when the hours cross a day.
std::string HourLabel(const std::string& hour, bool withDate) {
  if (hour.size() < 13) return hour.empty() ? "no start" : hour;
  return (withDate ? hour.substr(5, 5) + " " : "") + hour.substr(11, 2) + ":00";
}

// One hour's bar, stacked by result; an hour without a box gets a low mark of its own, so that a
// stoppage shows.
std::string HourBar(const json& hour, double x, double step, double base, double scale) {
  std::string svg;
  const std::string label = Escaped(hour["hour"].get<std::string>());
  const auto rect = [&](const char* kind, double y, double h, const std::string& title) {
    svg += "<rect class=\"" + std::string(kind) + "\" x=\"" + Fixed(x + 1) + "\" y=\"" + Fixed(y) +
           "\" width=\"" + Fixed(std::max(step - 2, 1.0)) + "\" height=\"" + Fixed(h) +
           "\"><title>" + label + ": " + title + "</title></rect>";
  };
  if (hour["boxes"].get<int64_t>() == 0) rect("idle", base - 3, 3, "no box");
  double y = base;
  for (const auto& [key, kind] : {std::pair{"succeeded", "success"},
                                  {"failed", "failure"},
                                  {"stopped", "stopped"},
                                  {"unknown", "unknown"}}) {
    const double h = double(hour[key].get<int64_t>()) * scale;
    if (h <= 0) continue;
    y -= h;
    rect(kind, y, h, Num(hour[key]) + " " + key);
  }
  return svg;
}

// Boxes in each hour, each hour's bar stacked by result.
std::string HoursChart(const json& hours) {
  const int width = 720, height = 240, left = 40, bottom = 40;
  int64_t most = 1;
  for (const json& hour : hours) most = std::max(most, hour["boxes"].get<int64_t>());
  const double step = hours.empty() ? 0 : double(width - left) / double(hours.size());
  const double scale = double(height - bottom - 10) / double(most);
  const double base = height - bottom;
  const std::string firstDay = hours.empty() ? "" : hours[0]["hour"].get<std::string>();
  const std::string lastDay = hours.empty() ? "" : hours.back()["hour"].get<std::string>();
  const bool withDate = firstDay.substr(0, 10) != lastDay.substr(0, 10);
  std::string svg =
      "<svg data-chart=\"hours\" role=\"img\" aria-label=\"Boxes in each hour\" width=\"" +
      std::to_string(width) + "\" height=\"" + std::to_string(height) + "\">\n";
  svg += "<text x=\"0\" y=\"12\">" + std::to_string(most) + "</text><line class=\"axis\" x1=\"" +
         std::to_string(left) + "\" x2=\"" + std::to_string(width) + "\" y1=\"" + Fixed(base) +
         "\" y2=\"" + Fixed(base) + "\"></line>";
  // Every label would overlap on a long run: a few, evenly spread.
  const size_t every = std::max<size_t>(1, hours.size() / (withDate ? 6 : 8));
  for (size_t i = 0; i < hours.size(); ++i) {
    const double x = left + double(i) * step;
    svg += HourBar(hours[i], x, step, base, scale);
    if (i % every == 0) {
      svg += "<text x=\"" + Fixed(x) + "\" y=\"" + std::to_string(height - bottom + 14) + "\">" +
             Escaped(HourLabel(hours[i]["hour"].get<std::string>(), withDate)) + "</text>";
    }
  }
  return svg + "</svg>\n";
}

// Horizontal bars: one per row, its length `value(row)` of `full`, labelled with `label(row)`.
std::string BarsChart(const std::string& name, const json& rows, double full,
                      const std::function<double(const json&)>& value,
                      const std::function<std::string(const json&)>& label,
                      const std::function<std::string(const json&)>& shown) {
  const int width = 720, labelWidth = 260, row = 20;
  const int height = std::max<int>(row, int(rows.size()) * row);
  std::string svg = "<svg data-chart=\"" + name + "\" role=\"img\" width=\"" +
                    std::to_string(width) + "\" height=\"" + std::to_string(height) + "\">\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    const double length = full > 0 ? value(rows[i]) / full * (width - labelWidth - 60) : 0;
    const int y = int(i) * row;
    svg += "<text x=\"0\" y=\"" + std::to_string(y + 14) + "\">" + Escaped(label(rows[i])) +
           "</text><rect class=\"bar\" x=\"" + std::to_string(labelWidth) + "\" y=\"" +
           std::to_string(y + 3) + "\" width=\"" + Fixed(length) + "\" height=\"" +
           std::to_string(row - 6) + "\"></rect><text x=\"" + Fixed(labelWidth + length + 4) +
           "\" y=\"" + std::to_string(y + 14) + "\">" + Escaped(shown(rows[i])) + "</text>\n";
  }
  return svg + "</svg>\n";
}

std::string Shortened(const std::string& text, size_t most = 40) {
  if (text.size() <= most) return text;
  size_t end = most - 3;  // between characters
  while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end) + "...";
}

std::string Summary(const json& report) {
  std::string html =
      "<table class=\"totals\" data-table=\"totals\"><tr><th></th><th>Boxes</th>"
      "<th>Succeeded</th><th>Failed</th><th>Stopped</th><th>Unknown</th><th>Yield</th></tr><tr>"
      "<td>" +
      Escaped(report["filter"]["operation"] == "all"
                  ? std::string("All boxes")
                  : "All " + report["filter"]["operation"].get<std::string>() + " boxes") +
      "</td>";
  for (const char* key : {"boxes", "succeeded", "failed", "stopped", "unknown"}) {
    html += Cell(report[key], Num(report[key]));
  }
  html += Cell(report["yield"], PercentText(report["yield"])) + "</tr></table>\n";
  const json& efficiency = report["efficiency"];
  html +=
      "<table data-table=\"figures\"><tr><td>Boxes per hour, from the first start to the "
      "last end</td>" +
      Cell(report["boxesPerHour"], Num(report["boxesPerHour"])) +
      "</tr><tr><td>Median seconds per box</td>" +
      Cell(report["medianSeconds"], Num(report["medianSeconds"])) +
      "</tr><tr><td>Efficiency, median</td>" +
      Cell(efficiency["median"], Num(efficiency["median"])) +
      "</tr><tr><td>Efficiency, 5th percentile (nearest rank)</td>" +
      Cell(efficiency["p5"], Num(efficiency["p5"])) + "</tr></table>\n";
  return html;
}

// The page's head, the sources and the span of the boxes.
std::string Head(const json& report) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'unsafe-inline'\">\n<title>Vespanode line report</title>\n<style>" +
      std::string(kStyle) + "</style></head><body>\n<h1>Line report</h1>\n<p>";
  for (const json& source : report["sources"]) html += Escaped(source.get<std::string>()) + "<br>";
  if (report["first"].is_string()) {
    const json& end = report["lastEnd"].is_string() ? report["lastEnd"] : report["last"];
    html += "Boxes from the first start " + Escaped(report["first"].get<std::string>()) +
            " to the last end " + Escaped(end.get<std::string>()) + " (" +
            Num(report["spanHours"]) + " h)";
  }
  if (report["conflicts"].get<int64_t>() > 0) {
    html += "<br>" + Num(report["conflicts"]) +
            " record(s) came with different contents: the copy that ended last counted";
  }
  return html + "</p>\n";
}

std::string BarCharts(const json& report) {
  std::string html =
      "<section><h2>Yield per station</h2>" +
      BarsChart(
          "stations", report["stations"], 1.0,
          [](const json& row) { return row["yield"].is_number() ? row["yield"].get<double>() : 0; },
          [](const json& row) {
            return Shortened((row["host"].is_string() ? row["host"].get<std::string>() + " " : "") +
                             row["port"].get<std::string>());
          },
          [](const json& row) { return PercentText(row["yield"]); }) +
      "</section>\n";
  const json& kinds = report["failureKinds"];
  const double mostFailures = kinds.empty() ? 0 : double(kinds[0]["boxes"].get<int64_t>());
  const auto boxes = [](const json& row) { return double(row["boxes"].get<int64_t>()); };
  const auto boxesText = [](const json& row) { return Num(row["boxes"]); };
  html += "<section><h2>Failures, largest first</h2>" +
          BarsChart(
              "failures", kinds, mostFailures, boxes,
              [](const json& row) { return row["failureKind"].get<std::string>(); }, boxesText) +
          "</section>\n";
  json tenths = json::array();
  int64_t mostTimed = 0;
  for (size_t i = 0; i < report["efficiency"]["tenths"].size(); ++i) {
    const int64_t count = report["efficiency"]["tenths"][i].get<int64_t>();
    mostTimed = std::max(mostTimed, count);
    tenths.push_back({{"range", Fixed(i / 10.0) + "-" + Fixed((i + 1) / 10.0)}, {"boxes", count}});
  }
  return html + "<section><h2>Efficiency distribution</h2>" +
         BarsChart(
             "efficiency", tenths, double(mostTimed), boxes,
             [](const json& row) { return row["range"].get<std::string>(); }, boxesText) +
         "</section>\n";
}

}  // namespace

std::string ReportHtml(const json& report) {
  std::string html = Head(report) + "<section>" + Summary(report) + "</section>\n";
  html +=
      "<section><h2>Boxes in each hour (UTC)</h2><div class=\"legend\"><span "
      "style=\"background:#3a8f3a\"></span>succeeded<span style=\"background:#c0392b\">"
      "</span>failed<span style=\"background:#999\"></span>stopped<span "
      "style=\"background:#8e6bb8\"></span>unknown<span style=\"background:#e0a030\"></span>no "
      "box</div>" +
      HoursChart(report["hours"]) + "</section>\n";
  html += BarCharts(report);
  html +=
      "<section><h2>Per operation (every box)</h2>" +
      CountsRows(
          report["operations"], [](const json& row) { return row["operation"]; }, "operations") +
      "</section>\n";
  html += "<section><h2>Per port</h2>" +
          CountsRows(
              report["ports"], [](const json& row) { return row["port"]; }, "ports") +
          "</section>\n";
  html += "<section><h2>Per firmware (SHA-256, names)</h2>" +
          CountsRows(report["firmware"], FirmwareName, "firmware") + "</section>\n";
  html += "<section><h2>Failures by status text</h2><table data-table=\"failureTexts\">";
  for (const json& row : report["failureTexts"]) {
    html += "<tr><td>" + Escaped(row["failure"].get<std::string>()) + "</td>" +
            Cell(row["boxes"], Num(row["boxes"])) + "</tr>";
  }
  html += "</table></section>\n</body></html>\n";
  return html;
}

}  // namespace vn
