// Port names of the window's list and the ports the system reports.
#include "link/system_port.h"

#include <libserialport.h>

#include <cctype>
#include <optional>
#include <string_view>

namespace vn {
namespace {

constexpr int kListedPorts = 10;

bool StartsWithComIgnoringCase(std::string_view name) {
  return name.size() > 3 && std::toupper(uint8_t(name[0])) == 'C' &&
         std::toupper(uint8_t(name[1])) == 'O' && std::toupper(uint8_t(name[2])) == 'M';
}

std::optional<int> NumberOf(std::string_view digits) {
  if (digits.empty() || digits.size() > 2) return std::nullopt;
  int number = 0;
  for (char c : digits) {
    if (!std::isdigit(uint8_t(c))) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

// 1..10 for "COM.01".."COM.10" and "COM1".."COM10"; nullopt for anything else.
std::optional<int> ListedPortNumber(std::string_view name) {
  if (!StartsWithComIgnoringCase(name)) return std::nullopt;
  std::string_view rest = name.substr(3);
  std::optional<int> number;
  if (rest.front() == '.') {
    if (rest.size() == 3) number = NumberOf(rest.substr(1));
  } else if (rest.front() != '0') {
    number = NumberOf(rest);
  }
  if (!number || *number < 1 || *number > kListedPorts) return std::nullopt;
  return number;
}

std::string TextOrEmpty(const char* text) {
  return text != nullptr ? text : "";
}

}  // namespace

std::string ComDeviceName(const std::string& name) {
  const std::optional<int> number = ListedPortNumber(name);
  if (!number) return name;
#ifdef _WIN32
  return "\\\\.\\COM" + std::to_string(*number);
#else
  return "/dev/ttyS" + std::to_string(*number - 1);
#endif
}

std::vector<PortInfo> ListSystemPorts() {
  std::vector<PortInfo> ports;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK) return ports;
  for (sp_port** port = list; *port != nullptr; ++port) {
    const char* path = sp_get_port_name(*port);
    const char* description = sp_get_port_description(*port);
    if (path == nullptr) continue;
    PortInfo info{path, TextOrEmpty(description)};
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
