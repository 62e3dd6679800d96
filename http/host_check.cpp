#include "http/host_check.h"

#include <algorithm>
#include <cctype>

namespace vn::http {
namespace {

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A Host's name and port ("" when none); false when it is neither "NAME[:PORT]" nor
// "[IPV6][:PORT]".
bool SplitHost(const std::string& host, std::string& name, std::string& port) {
  size_t nameEnd = host.find(':');
  if (!host.empty() && host.front() == '[') {
    nameEnd = host.find(']');
    if (nameEnd == std::string::npos) return false;
    ++nameEnd;
    if (nameEnd < host.size() && host[nameEnd] != ':') return false;
  } else if (nameEnd != std::string::npos && host.find(':', nameEnd + 1) != std::string::npos) {
    return false;  // an IPv6 address outside brackets
  }
  name = host.substr(0, nameEnd);
  port = nameEnd < host.size() ? host.substr(nameEnd + 1) : "";
  return !name.empty() &&
         (nameEnd == std::string::npos || nameEnd == host.size() || AllDigits(port));
}

// The connection's own address as a Host names it: an IPv4 client on a socket of both families
// shows as "::ffff:127.0.0.1".
std::string AddressAsHost(const std::string& address) {
  static const std::string kMapped = "::ffff:";
  if (address.starts_with(kMapped) && address.find('.') != std::string::npos) {
    return address.substr(kMapped.size());
  }
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

HostCheck::HostCheck(const std::vector<std::string>& names, int port) : port_(port) {
  for (const std::string& name : names) names_.push_back(Lowercase(name));
}

bool HostCheck::Accepts(const std::string& host, const std::string& localAddress) const {
  std::string name;
  std::string port;
  if (!SplitHost(Lowercase(host), name, port)) return false;
  if (!port.empty() && std::stoi(port) != port_) return false;
  return name == Lowercase(AddressAsHost(localAddress)) ||
         std::find(names_.begin(), names_.end(), name) != names_.end();
}

std::string HostNameProblem(const std::string& name) {
  std::string host;
  std::string port;
  const bool plain = std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '[' || c == ']' || c == ':';
  });
  if (!plain || !SplitHost(name, host, port) || host.size() != name.size()) {
    return "needs a host name, an IPv4 address or a bracketed IPv6 address, without a port";
  }
  return "";
}

}  // namespace vn::http
