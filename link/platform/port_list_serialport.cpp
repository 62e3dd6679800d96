// The serial ports the system reports, through libserialport.
#include <libserialport.h>

#include "link/system_port.h"

namespace vn {

std::vector<PortInfo> ListSystemPorts() {
  std::vector<PortInfo> ports;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK) return ports;
  for (sp_port** port = list; *port != nullptr; ++port) {
    const char* path = sp_get_port_name(*port);
    const char* description = sp_get_port_description(*port);
    if (path == nullptr) continue;
    ports.push_back({path, description != nullptr ? description : ""});
  }
  sp_free_port_list(list);
  return ports;
}

}  // namespace vn
