#include "http/guarded_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vn::http {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Waits are cut into slices so that a stop ends them soon.
constexpr milliseconds kSlice{100};

void AddressOf(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int got = peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length)
                       : getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  if (got != 0) return;
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service,
                  sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(service);
  }
}

// The socket as cpp-httplib reads and writes it, with the request's deadline and size bound.
class GuardedStream : public httplib::Stream {
 public:
  GuardedStream(int sock, const GuardedServer& server) : sock_(sock), server_(server) {}

  // A fresh deadline and size allowance for the next request.
  void StartRequest() {
    deadline_ = Clock::now() + server_.Limits().requestDeadline;
    requestBytes_ = 0;
  }

  // Whether the next request begins within the idle time.
  bool WaitForRequest() {
    if (begin_ < buffer_.size()) return true;
    return Wait(POLLIN, Clock::now() + server_.Limits().idleTime);
  }

  bool is_readable() const override {
    return begin_ < buffer_.size() || Wait(POLLIN, std::min(deadline_, Clock::now() + kSlice * 50));
  }
  bool is_writable() const override {
    return Wait(POLLOUT, Clock::now() + server_.Limits().writeTimeout);
  }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ >= buffer_.size() && !Fill()) return -1;
    const size_t count = std::min(size, buffer_.size() - begin_);
    std::memcpy(ptr, buffer_.data() + begin_, count);
    begin_ += count;
    return ssize_t(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    size_t written = 0;
    while (written < size) {
      if (!is_writable()) return -1;
      const ssize_t sent = ::send(sock_, ptr + written, size - written, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return -1;
      written += size_t(sent);
    }
    return ssize_t(written);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(sock_, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(sock_, false, ip, port);
  }
  socket_t socket() const override { return sock_; }

 private:
  bool Fill() {
    if (requestBytes_ >= server_.Limits().maxRequestBytes) return false;
    if (!Wait(POLLIN, deadline_)) return false;
    buffer_.resize(4096);
    ssize_t got;
    do {
      got = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      buffer_.clear();
      begin_ = 0;
      return false;
    }
    buffer_.resize(size_t(got));
    begin_ = 0;
    requestBytes_ += size_t(got);
    return true;
  }

  bool Wait(short events, Clock::time_point until) const {
    while (!server_.Stopping()) {
      const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
      if (left <= milliseconds::zero()) return false;
      pollfd watched{sock_, events, 0};
      const int ready = ::poll(&watched, 1, int(std::min(left, kSlice).count()));
      if (ready > 0) return (watched.revents & (events | POLLHUP | POLLERR)) != 0;
      if (ready < 0 && errno != EINTR) return false;
    }
    return false;
  }

  int sock_;
  const GuardedServer& server_;
  std::string buffer_;
  size_t begin_ = 0;
  size_t requestBytes_ = 0;
  Clock::time_point deadline_ = Clock::now();
};

// Handlers run on the connection's worker thread, between the loop's reset and its check.
thread_local bool closeAfterRequest = false;

void Refuse(int sock) {
  static constexpr char kBusy[] =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 21\r\n"
      "Retry-After: 5\r\nConnection: close\r\n\r\ntoo many connections\n";
  (void)::send(sock, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

GuardedServer::GuardedServer(const ServerLimits& limits) : limits_(limits) {
  // One worker per connection allowed, and a few spare that turn the rest away.
  const size_t workers = size_t(limits_.maxConnections) + 4;
  new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  set_payload_max_length(limits_.maxPayload);
  set_keep_alive_max_count(limits_.keepAliveRequests);
}

void GuardedServer::CloseAfterThisRequest() {
  closeAfterRequest = true;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  if (active_.fetch_add(1) >= limits_.maxConnections) {
    Refuse(sock);
  } else {
    GuardedStream stream(sock, *this);
    for (size_t left = limits_.keepAliveRequests; left > 0 && !Stopping(); --left) {
      if (!stream.WaitForRequest()) break;
      stream.StartRequest();
      bool closed = false;
      closeAfterRequest = false;
      if (!process_request(stream, left == 1, closed, [](httplib::Request&) {}) || closed) break;
      if (closeAfterRequest) break;
    }
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  active_.fetch_sub(1);
  return true;
}

}  // namespace vn::http
