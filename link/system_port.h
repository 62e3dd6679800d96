#pragma once
// The real serial port of this platform, port names, and the ports the system reports.
#include <memory>
#include <string>
#include <vector>

#include "link/com_port.h"

namespace vn {

// The platform's port (termios on Linux).
std::unique_ptr<ComPort> MakeSystemComPort();

inline constexpr int kComNameCount = 10;  // COM1..COM10, the window's COM.01..COM.10

// "COM.01".."COM.10" and "COM1".."COM10" (any case) to the platform's device: /dev/ttyS{n-1} on
// Linux, \\.\COMn on Windows. Anything else is taken as a device path and returned unchanged.
std::string ComDeviceName(const std::string& name);
// The device of COMn, n from 1 to kComNameCount; each system's port file knows its own naming.
std::string ListedComDevice(int number);

struct PortInfo {
  std::string path;         // /dev/ttyUSB0
  std::string description;  // the adapter's own description, or empty
  // A USB adapter's identity, which tells two adapters of one make apart; ids are -1 when unknown.
  bool usb = false;
  int vendorId = -1;
  int productId = -1;
  std::string manufacturer{};
  std::string product{};
  std::string serial{};
};
// The serial ports the system reports: through libserialport on POSIX, USB adapters with their
// identity; from the registry on Windows.
std::vector<PortInfo> ListSystemPorts();

}  // namespace vn
