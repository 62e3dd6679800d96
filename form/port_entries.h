#pragma once
// The entries of the port list: the ten fixed "COM.01".."COM.10", then the other serial ports
// the system reports (USB adapters first, by product and device: "FT232R USB UART (ttyUSB0)"), then
// the virtual boxes running for this user ("Virtual box pts/3"). The tooltip tells the rest.
#include <functional>
#include <string>
#include <vector>

#include "link/port_survey.h"
#include "link/system_port.h"

namespace vn {

inline constexpr int kFixedPortCount = kComNameCount;

struct PortEntry {
  std::string text;     // what the list shows
  std::string name;     // what the station opens: "COM.03" or a device path
  std::string details;  // the tooltip: the device behind a fixed entry, a port's description
  friend bool operator==(const PortEntry&, const PortEntry&) = default;
};

using PortEntrySource = std::function<std::vector<PortEntry>()>;

// Pure composition, so the order and the removal of repeats can be checked without devices.
std::vector<PortEntry> ComposePortEntries(const std::vector<PortInfo>& systemPorts,
                                          const std::vector<std::string>& virtualBoxes);
// The entries for the ports present right now.
std::vector<PortEntry> CurrentPortEntries();

}  // namespace vn
