// `ports`: what is plugged in, to find the port the box hangs on: the COM names the window offers
// with their devices, USB adapters by make and serial number, other ports, running virtual boxes.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/json_fields.h"
#include "link/port_survey.h"

namespace vn {
namespace {

// Ordered, so that a person reading the output sees the sections as the text lists them.
using json = nlohmann::ordered_json;

// The object's layout, raised whenever a field is added, renamed or dropped: 1 was the
// snake_case layout that went unnumbered.
constexpr int kPortsSchemaVersion = 2;

// USB ids as lsusb writes them ("0403"), null when unknown.
json UsbId(int id) {
  const std::string text = UsbIdText(id);
  return text.empty() ? json(nullptr) : json(text);
}

// A device's entry starts with its path, exact bytes beside it when they are not UTF-8.
json DeviceEntry(const std::string& path) {
  json entry = {{"device", path}};
  AddExactBytes(entry, "device", path);
  return entry;
}

json SurveyAsJson(const PortSurvey& survey) {
  json result = {{"schema", kPortsSchemaVersion},
                 {"comNames", json::array()},
                 {"usbAdapters", json::array()},
                 {"otherPorts", json::array()},
                 {"virtualBoxes", json::array()}};
  for (const ComNameEntry& com : survey.comNames) {
    result["comNames"].push_back({{"name", com.name},
                                  {"windowName", com.windowName},
                                  {"device", com.device},
                                  {"exists", com.exists}});
  }
  for (const PortInfo& port : survey.usbAdapters) {
    json entry = DeviceEntry(port.path);
    entry.update({{"vendorId", UsbId(port.vendorId)},
                  {"productId", UsbId(port.productId)},
                  {"manufacturer", port.manufacturer},
                  {"product", port.product},
                  {"serial", port.serial},
                  {"description", port.description}});
    result["usbAdapters"].push_back(entry);
  }
  for (const PortInfo& port : survey.otherPorts) {
    json entry = DeviceEntry(port.path);
    entry["description"] = port.description;
    result["otherPorts"].push_back(entry);
  }
  for (const std::string& box : survey.virtualBoxes) {
    result["virtualBoxes"].push_back(DeviceEntry(box));
  }
  return result;
}

// One section: its title, then "path  details" lines aligned, or "none".
void PrintSection(const char* title, const std::vector<std::pair<std::string, std::string>>& rows) {
  std::printf("%s\n", title);
  if (rows.empty()) std::printf("  none\n");
  size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  for (const auto& [path, details] : rows) {
    std::printf("  %-*s  %s\n", int(width), path.c_str(), details.c_str());
  }
}

void PrintSurvey(const PortSurvey& survey) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const ComNameEntry& com : survey.comNames) {
    rows.push_back(
        {com.name, com.windowName + "  " + com.device + (com.exists ? "  present" : "  absent")});
  }
  PrintSection("COM names (COM.01..COM.10 in the window):", rows);
  rows.clear();
  for (const PortInfo& port : survey.usbAdapters)
    rows.push_back({port.path, AdapterIdentity(port)});
  PrintSection("USB adapters:", rows);
  rows.clear();
  for (const PortInfo& port : survey.otherPorts) rows.push_back({port.path, port.description});
  PrintSection("Other serial ports:", rows);
  rows.clear();
  for (const std::string& box : survey.virtualBoxes) rows.push_back({box, "vespanode-box"});
  PrintSection("Virtual boxes:", rows);
}

}  // namespace

void RegisterPortCommands(CLI::App& app, CommandRun& run) {
  CLI::App* ports = app.add_subcommand(
      "ports",
      "List the COM names with their devices, USB adapters with vendor, product and serial "
      "number, other serial ports and running virtual boxes. Any device path works as a port.");
  auto asJson = std::make_shared<bool>(false);
  ports->add_flag("--json", *asJson, "Print one JSON object");
  ports->callback([asJson, &run] {
    if (run.parseOnly) return;
    const PortSurvey survey = SurveyPorts();
    if (*asJson) {
      std::printf("%s\n", JsonText(SurveyAsJson(survey), 2).c_str());
    } else {
      PrintSurvey(survey);
    }
    run.exitCode = 0;
  });
}

}  // namespace vn
