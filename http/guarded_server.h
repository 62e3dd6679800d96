#pragma once
// cpp-httplib's server with the limits a page on a shop floor needs: a bounded number of
// connections (the rest get 503 at once), a deadline and a size bound for each request's head
// (answered 408, 414 or 431), an idle time and a life for kept-alive connections, a close after
// any request that could not be parsed, and a stop that does not wait for any client.
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
  // finishes its request holds one connection for this long at most, and is answered 408.
  std::chrono::milliseconds requestDeadline{5000};
  std::chrono::milliseconds idleTime{5000};      // a kept-alive connection with no request
  std::chrono::milliseconds writeTimeout{5000};  // a client that does not read
  // No request is taken on a connection older than this, however busy its client keeps it: one
  // client cannot hold one of the connections for ever. An event stream being sent runs on.
  std::chrono::milliseconds connectionLife{60000};
  size_t keepAliveRequests = 10;
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ServerLimits& limits);
  int ActiveConnections() const { return active_.load(); }
  bool Stopping() const { return svr_sock_ == INVALID_SOCKET; }
  const ServerLimits& Limits() const { return limits_; }
  // Whether the bound socket listens on every address of the PC (0.0.0.0 or [::]).
  bool BoundToEveryAddress() const;
  // cpp-httplib's, kept here too for the answers the guard gives itself (408, 414, 431).
  void SetDefaultHeaders(const httplib::Headers& headers);
  const httplib::Headers& DefaultHeaders() const { return headers_; }
  // Called by a handler: the connection closes once this request's answer is out (a body left
  // unread must not be read as the next request).
  static void CloseAfterThisRequest();

 private:
  bool process_and_close_socket(socket_t sock) override;
  // The connection's requests, one after another, until one of the limits ends it.
  void Serve(socket_t sock);

  ServerLimits limits_;
  httplib::Headers headers_;
  std::atomic<int> active_{0};
};

}  // namespace vn::http
