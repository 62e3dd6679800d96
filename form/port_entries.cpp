#include "form/port_entries.h"

#include "link/box_announce.h"

namespace vn {

std::vector<PortEntry> ComposePortEntries(const std::vector<PortInfo>& systemPorts,
                                          const std::vector<std::string>& virtualBoxes) {
  // Whether a COM device exists does not matter here: the list always offers all ten.
  const PortSurvey survey =
      ComposePortSurvey(systemPorts, virtualBoxes, [](const std::string&) { return true; });
  std::vector<PortEntry> entries;
  for (const ComNameEntry& com : survey.comNames) {
    entries.push_back({com.windowName, com.windowName, com.device});
  }
  for (const auto* ports : {&survey.usbAdapters, &survey.otherPorts}) {
    for (const PortInfo& port : *ports) {
      const std::string details = port.usb ? AdapterIdentity(port) : port.description;
      entries.push_back({AdapterName(port), port.path, details.empty() ? port.path : details});
    }
  }
  for (const std::string& box : survey.virtualBoxes) {
    entries.push_back({VirtualBoxName(box), box, "vespanode-box on " + box});
  }
  return entries;
}

std::vector<PortEntry> CurrentPortEntries() {
  return ComposePortEntries(ListSystemPorts(), ListAnnouncedBoxes());
}

}  // namespace vn
