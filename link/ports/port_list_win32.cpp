// The serial ports Windows reports: the values under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM name each
// port's driver device and hold its COM name.
#include <windows.h>

#include <algorithm>

#include "link/system_port.h"

namespace vn {

std::vector<PortInfo> ListSystemPorts() {
  std::vector<PortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char device[256];
    char comName[64];
    DWORD deviceLength = sizeof device;
    DWORD comLength = sizeof comName;
    DWORD type = 0;
    const LONG status = RegEnumValueA(key, index, device, &deviceLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(comName), &comLength);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ || comLength == 0) continue;
    ports.push_back(
        {std::string(comName, strnlen(comName, comLength)), std::string(device, deviceLength)});
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(),
            [](const PortInfo& a, const PortInfo& b) { return a.path < b.path; });
  return ports;
}

}  // namespace vn
