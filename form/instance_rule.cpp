#include "form/instance_rule.h"

namespace vn {

InstanceRole DecideInstanceRole(const std::function<bool()>& handOver,
                                const std::function<bool()>& listen) {
  if (handOver()) return InstanceRole::kHandedOver;
  if (listen()) return InstanceRole::kFirst;
  return handOver() ? InstanceRole::kHandedOver : InstanceRole::kAlone;
}

std::string InstanceName(const std::string& title, const std::string& user, std::string display) {
  // ":0.0" is screen 0 of display ":0": drop the screen.
  const size_t colon = display.rfind(':');
  const size_t dot = display.rfind('.');
  if (colon != std::string::npos && dot != std::string::npos && dot > colon + 1 &&
      dot + 1 < display.size() && display.find_first_not_of("0123456789", colon + 1) == dot &&
      display.find_first_not_of("0123456789", dot + 1) == std::string::npos) {
    display.erase(dot);
  }
  std::string name = title + '-' + user + '-' + display;
  for (char& c : name) {
    const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
    if (!safe) c = '_';
  }
  return name;
}

}  // namespace vn
