#pragma once
// What is plugged in, told so that a person can pick the right port: the window's COM names with
// their devices, the USB adapters by make and serial number, other reported ports, and the
// virtual boxes running for this user.
#include <functional>
#include <string>
#include <vector>

#include "link/system_port.h"

namespace vn {

struct ComNameEntry {
  std::string name;        // COM3, as the command line takes it
  std::string windowName;  // COM.03, as the window lists it
  std::string device;      // /dev/ttyS2
  bool exists = false;
};

struct PortSurvey {
  std::vector<ComNameEntry> comNames;  // COM1..COM10, always all ten
  std::vector<PortInfo> usbAdapters;
  std::vector<PortInfo> otherPorts;  // reported, but neither behind a COM name nor on USB
  std::vector<std::string> virtualBoxes;
};

// Sorts what the system reports into the survey; each device appears once. `exists` tells
// whether a device path exists (a COM name's device need not be reported to exist).
PortSurvey ComposePortSurvey(const std::vector<PortInfo>& systemPorts,
                             const std::vector<std::string>& virtualBoxes,
                             const std::function<bool(const std::string&)>& exists);
// The survey of this machine, right now.
PortSurvey SurveyPorts();

// Short names for a list entry: "FT232R USB UART (ttyUSB0)", "Virtual box pts/3".
std::string AdapterName(const PortInfo& port);
std::string VirtualBoxName(const std::string& ptyPath);
// A USB vendor or product id as lsusb writes it ("0403"); empty when unknown (negative).
std::string UsbIdText(int id);
// Everything known about an adapter on one line: "0403:6001 FTDI FT232R USB UART, serial A1".
std::string AdapterIdentity(const PortInfo& port);

}  // namespace vn
