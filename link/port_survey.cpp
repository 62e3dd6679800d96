#include "link/port_survey.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "link/box_announce.h"

namespace vn {
namespace {

// "/dev/ttyUSB0" -> "ttyUSB0", "/dev/pts/3" -> "pts/3": what is left after /dev/.
std::string ShortDevice(const std::string& path) {
  const std::string prefix = "/dev/";
  return path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : path;
}

}  // namespace

PortSurvey ComposePortSurvey(const std::vector<PortInfo>& systemPorts,
                             const std::vector<std::string>& virtualBoxes,
                             const std::function<bool(const std::string&)>& exists) {
  PortSurvey survey;
  std::set<std::string> listed;
  for (int n = 1; n <= kComNameCount; ++n) {
    char windowName[8];
    std::snprintf(windowName, sizeof windowName, "COM.%02d", n);
    const std::string device = ComDeviceName(windowName);
    survey.comNames.push_back({"COM" + std::to_string(n), windowName, device, exists(device)});
    listed.insert(device);
  }
  for (const PortInfo& port : systemPorts) {
    if (port.path.empty() || !listed.insert(port.path).second) continue;
    (port.usb ? survey.usbAdapters : survey.otherPorts).push_back(port);
  }
  for (const std::string& box : virtualBoxes) {
    if (!box.empty() && listed.insert(box).second) survey.virtualBoxes.push_back(box);
  }
  return survey;
}

PortSurvey SurveyPorts() {
  const std::vector<PortInfo> system = ListSystemPorts();
  // Windows lists its ports as COM3 and opens them as \\.\COM3, which is no file to look for.
  const auto exists = [&system](const std::string& device) {
    std::error_code error;
    if (std::filesystem::exists(device, error)) return true;
    return std::any_of(system.begin(), system.end(), [&](const PortInfo& port) {
      return port.path == device || ComDeviceName(port.path) == device;
    });
  };
  return ComposePortSurvey(system, ListAnnouncedBoxes(), exists);
}

std::string AdapterName(const PortInfo& port) {
  const std::string& label = !port.product.empty() ? port.product : port.description;
  const std::string device = ShortDevice(port.path);
  // libserialport's description of a plain port is often its own device name.
  if (label.empty() || label == device) return port.path;
  return label + " (" + device + ")";
}

std::string VirtualBoxName(const std::string& ptyPath) {
  return "Virtual box " + ShortDevice(ptyPath);
}

std::string UsbIdText(int id) {
  if (id < 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04x", unsigned(id) & 0xFFFFu);
  return text;
}

std::string AdapterIdentity(const PortInfo& port) {
  std::string text;
  auto add = [&text](const std::string& part, const char* separator = " ") {
    if (part.empty()) return;
    if (!text.empty()) text += separator;
    text += part;
  };
  if (port.vendorId >= 0 && port.productId >= 0) {
    add(UsbIdText(port.vendorId) + ":" + UsbIdText(port.productId));
  }
  add(port.manufacturer);
  add(!port.product.empty() ? port.product : port.description);
  if (!port.serial.empty()) add("serial " + port.serial, ", ");
  return text;
}

}  // namespace vn
