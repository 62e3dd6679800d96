#pragma once
// cpp-httplib's server with the limits a page on a shop floor needs: a bounded number of
// connections (the rest get 503 at once), a deadline and a size bound for each request's head, an
// idle time for kept-alive connections, and a stop that does not wait for any client.
#include <httplib.h>

#include <atomic>
#include <chrono>

namespace vn::http {

struct ServerLimits {
  int maxConnections = 32;
  size_t maxRequestBytes = 16 * 1024;  // request line and headers
  size_t maxHeaders = 64;
  size_t maxPayload = 1024;
  // A request must have arrived whole within this of its first byte: a client that never
  // finishes its request holds one connection for this long at most.
  std::chrono::milliseconds requestDeadline{5000};
  std::chrono::milliseconds idleTime{5000};      // a kept-alive connection with no request
  std::chrono::milliseconds writeTimeout{5000};  // a client that does not read
  size_t keepAliveRequests = 100;
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ServerLimits& limits);
  int ActiveConnections() const { return active_.load(); }
  bool Stopping() const { return svr_sock_ == INVALID_SOCKET; }
  const ServerLimits& Limits() const { return limits_; }
  // Called by a handler: the connection closes once this request's answer is out (a body left
  // unread must not be read as the next request).
  static void CloseAfterThisRequest();

 private:
  bool process_and_close_socket(socket_t sock) override;

  ServerLimits limits_;
  std::atomic<int> active_{0};
};

}  // namespace vn::http
