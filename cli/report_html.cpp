// The report as one HTML page: no script, nothing loaded from anywhere, its charts inline SVG, and
// a print style that keeps each chart on one page.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/report_text.h"

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
.bar { fill: #4a6fa5; }
.legend span { display: inline-block; width: 0.9em; height: 0.9em; margin: 0 0.3em 0 1em; }
section { break-inside: avoid; page-break-inside: avoid; }
@media print { body { margin: 0; max-width: none; } h2 { break-after: avoid; } }
)css";

std::string Escaped(const std::string& text) {
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
                     "<th>Stopped</th><th>Yield</th></tr>\n";
  for (const json& row : rows) {
    html += "<tr><td>" + Escaped(name(row)) + "</td>";
    for (const char* key : {"boxes", "succeeded", "failed", "stopped"}) {
      html += Cell(row[key], Num(row[key]));
    }
    html += Cell(row["yield"], PercentText(row["yield"])) + "</tr>\n";
  }
  return html + "</table>\n";
}

// Boxes per hour, each hour's bar stacked by result.
std::string HoursChart(const json& hours) {
  const int width = 720, height = 240, left = 40, bottom = 40;
  int64_t most = 1;
  for (const json& hour : hours) most = std::max(most, hour["boxes"].get<int64_t>());
  const double step = hours.empty() ? 0 : double(width - left) / double(hours.size());
  const double scale = double(height - bottom - 10) / double(most);
  std::string svg =
      "<svg data-chart=\"hours\" role=\"img\" aria-label=\"Boxes per hour\" width=\"" +
      std::to_string(width) + "\" height=\"" + std::to_string(height) + "\">\n";
  svg += "<text x=\"0\" y=\"12\">" + std::to_string(most) + "</text>";
  for (size_t i = 0; i < hours.size(); ++i) {
    double y = height - bottom;
    const double x = left + double(i) * step;
    for (const auto& [key, kind] :
         {std::pair{"succeeded", "success"}, {"failed", "failure"}, {"stopped", "stopped"}}) {
      const double h = double(hours[i][key].get<int64_t>()) * scale;
      if (h <= 0) continue;
      y -= h;
      svg += "<rect class=\"" + std::string(kind) + "\" x=\"" + Fixed(x + 1) + "\" y=\"" +
             Fixed(y) + "\" width=\"" + Fixed(std::max(step - 2, 1.0)) + "\" height=\"" + Fixed(h) +
             "\"><title>" + Escaped(hours[i]["hour"].get<std::string>()) + ": " +
             Num(hours[i][key]) + " " + key + "</title></rect>";
    }
    // Every label would overlap on a long run: a few, evenly spread.
    const size_t every = std::max<size_t>(1, hours.size() / 8);
    if (i % every == 0) {
      svg += "<text x=\"" + Fixed(x) + "\" y=\"" + std::to_string(height - bottom + 14) + "\">" +
             Escaped(hours[i]["hour"].get<std::string>().substr(11)) + ":00</text>";
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
  return text.size() <= most ? text : text.substr(0, most - 3) + "...";
}

std::string Summary(const json& report) {
  std::string html =
      "<table class=\"totals\" data-table=\"totals\"><tr><th></th><th>Boxes</th>"
      "<th>Succeeded</th><th>Failed</th><th>Stopped</th><th>Yield</th></tr><tr>"
      "<td>All</td>";
  for (const char* key : {"boxes", "succeeded", "failed", "stopped"}) {
    html += Cell(report[key], Num(report[key]));
  }
  html += Cell(report["yield"], PercentText(report["yield"])) + "</tr></table>\n";
  const json& efficiency = report["efficiency"];
  html += "<table data-table=\"figures\"><tr><td>Boxes per hour</td>" +
          Cell(report["boxesPerHour"], Num(report["boxesPerHour"])) +
          "</tr><tr><td>Median seconds per box</td>" +
          Cell(report["medianSeconds"], Num(report["medianSeconds"])) +
          "</tr><tr><td>Efficiency, median</td>" +
          Cell(efficiency["median"], Num(efficiency["median"])) +
          "</tr><tr><td>Efficiency, 5th percentile</td>" +
          Cell(efficiency["p5"], Num(efficiency["p5"])) + "</tr></table>\n";
  return html;
}

}  // namespace

std::string ReportHtml(const json& report) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'unsafe-inline'\">\n<title>Vespanode line report</title>\n<style>" +
      std::string(kStyle) + "</style></head><body>\n<h1>Line report</h1>\n<p>";
  for (const json& source : report["sources"]) html += Escaped(source.get<std::string>()) + "<br>";
  if (report["first"].is_string()) {
    html += "Boxes from " + Escaped(report["first"].get<std::string>()) + " to " +
            Escaped(report["last"].get<std::string>());
  }
  html += "</p>\n<section>" + Summary(report) + "</section>\n";
  html +=
      "<section><h2>Boxes per hour</h2><div class=\"legend\"><span class=\"success\" "
      "style=\"background:#3a8f3a\"></span>succeeded<span style=\"background:#c0392b\">"
      "</span>failed<span style=\"background:#999\"></span>stopped</div>" +
      HoursChart(report["hours"]) + "</section>\n";
  html +=
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
  html += "<section><h2>Efficiency distribution</h2>" +
          BarsChart(
              "efficiency", tenths, double(mostTimed), boxes,
              [](const json& row) { return row["range"].get<std::string>(); }, boxesText) +
          "</section>\n";
  html += "<section><h2>Per port</h2>" +
          CountsRows(
              report["ports"], [](const json& row) { return row["port"]; }, "ports") +
          "</section>\n";
  html += "<section><h2>Per firmware</h2>" +
          CountsRows(
              report["firmware"],
              [](const json& row) {
                return row["file"].get<std::string>() + " " +
                       (row["sha256"].is_string() ? row["sha256"].get<std::string>().substr(0, 12)
                                                  : "");
              },
              "firmware") +
          "</section>\n";
  html += "<section><h2>Failures by status text</h2><table data-table=\"failureTexts\">";
  for (const json& row : report["failureTexts"]) {
    html += "<tr><td>" + Escaped(row["failure"].get<std::string>()) + "</td>" +
            Cell(row["boxes"], Num(row["boxes"])) + "</tr>";
  }
  html += "</table></section>\n</body></html>\n";
  return html;
}

}  // namespace vn
