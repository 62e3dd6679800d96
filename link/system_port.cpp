// Port names of the window's list.
#include "link/system_port.h"

#include <cctype>
#include <optional>
#include <string_view>

namespace vn {
namespace {

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
  if (!number || *number < 1 || *number > kComNameCount) return std::nullopt;
  return number;
}

}  // namespace

std::string ComDeviceName(const std::string& name) {
  const std::optional<int> number = ListedPortNumber(name);
  if (!number) return name;
  return ListedComDevice(*number);
}

}  // namespace vn
