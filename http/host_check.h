#pragma once
// Which names the line page answers to. A page of another site can have its own name resolve to
// this PC (DNS rebinding) and so read the API on loopback: the browser then sends that name as
// the Host, and such a request is refused (421) rather than answered.
#include <string>
#include <vector>

namespace vn::http {

class HostCheck {
 public:
  HostCheck() = default;
  // `names`: the names and addresses the page is served as ("[::1]" for an IPv6 one); `port`:
  // the one it listens on.
  HostCheck(const std::vector<std::string>& names, int port);

  // Whether a Host header's value ("localhost:8080", "[::1]", "station-pc-1") names this server,
  // reached on `localAddress` (the connection's, as the system writes it: an address of this PC
  // that the client asked for by number is its own).
  bool Accepts(const std::string& host, const std::string& localAddress) const;

 private:
  std::vector<std::string> names_;  // lowercase
  int port_ = 0;
};

// The check of a --http-host name: empty when it is a host name or address without a port.
std::string HostNameProblem(const std::string& name);

}  // namespace vn::http
