// The serial ports the system reports, through libserialport, USB adapters with their identity.
#include <libserialport.h>

#include "link/system_port.h"

namespace vn {
namespace {

std::string TextOrEmpty(const char* text) {
  return text != nullptr ? text : "";
}

}  // namespace

std::vector<PortInfo> ListSystemPorts() {
  std::vector<PortInfo> ports;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK) return ports;
  for (sp_port** port = list; *port != nullptr; ++port) {
    const char* path = sp_get_port_name(*port);
    if (path == nullptr) continue;
    PortInfo info{path, TextOrEmpty(sp_get_port_description(*port))};
    if (sp_get_port_transport(*port) == SP_TRANSPORT_USB) {
      info.usb = true;
      int vendor = -1, product = -1;
      if (sp_get_port_usb_vid_pid(*port, &vendor, &product) == SP_OK) {
        info.vendorId = vendor;
        info.productId = product;
      }
      info.manufacturer = TextOrEmpty(sp_get_port_usb_manufacturer(*port));
      info.product = TextOrEmpty(sp_get_port_usb_product(*port));
      info.serial = TextOrEmpty(sp_get_port_usb_serial(*port));
    }
    ports.push_back(std::move(info));
  }
  sp_free_port_list(list);
  return ports;
}

}  // namespace vn
