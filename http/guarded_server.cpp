#include "http/guarded_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

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

// What became of a request's head.
enum class Head { kWhole, kGone, kLate, kLineTooLong, kTooLarge };

// A client that may still be sending when its connection is closed has what it sends read and
// dropped for this long first: a close with unread bytes resets the connection, and the client
// may lose the answer before it has read it.
constexpr milliseconds kLinger{1000};
constexpr size_t kLingerBytes = 256 * 1024;
constexpr size_t kChunk = 4096;

// The socket as cpp-httplib reads and writes it, with the request's deadline and size bound and
// the connection's life.
class GuardedStream : public httplib::Stream {
 public:
  GuardedStream(int sock, const GuardedServer& server)
      : sock_(sock), server_(server), end_(Clock::now() + server.Limits().connectionLife) {}

  // Whether the next request begins within the idle time and the connection's life.
  bool WaitForRequest() {
    if (begin_ < buffer_.size()) return Clock::now() < end_;
    return Wait(POLLIN, std::min(end_, Clock::now() + server_.Limits().idleTime));
  }

  // Reads the next request's head whole before cpp-httplib parses it from the buffer, so that
  // one too long, too large or too late is answered as such rather than cut off.
  Head ReadHead() {
    deadline_ = std::min(end_, Clock::now() + server_.Limits().requestDeadline);
    for (;;) {
      const std::string_view pending(buffer_.data() + begin_, buffer_.size() - begin_);
      if (pending.find("\r\n\r\n") != std::string_view::npos) return Head::kWhole;
      const size_t lineEnd = std::min(pending.find('\n'), pending.size());
      if (lineEnd > CPPHTTPLIB_REQUEST_URI_MAX_LENGTH) return Head::kLineTooLong;
      if (pending.size() >= server_.Limits().maxRequestBytes) return Head::kTooLarge;
      if (!Fill()) return Clock::now() >= deadline_ ? Head::kLate : Head::kGone;
    }
  }

  // The guard's own answer to a head it would not pass on; the connection closes after it.
  void Answer(Head head) {
    const int status = head == Head::kLate ? 408 : head == Head::kLineTooLong ? 414 : 431;
    const char* reason = status == 408   ? "Request Timeout"
                         : status == 414 ? "URI Too Long"
                                         : "Request Header Fields Too Large";
    const std::string body = status == 408   ? "the request did not arrive in time\n"
                             : status == 414 ? "the request line is too long\n"
                                             : "the request's head is too large\n";
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& [name, value] : server_.DefaultHeaders()) text += name + ": " + value + "\r\n";
    text += "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    (void)write(text.data(), text.size());
  }

  void LingerBeforeClose() {
    ::shutdown(sock_, SHUT_WR);
    const auto until = Clock::now() + kLinger;
    char dropped[kChunk];
    for (size_t total = 0; total < kLingerBytes && Wait(POLLIN, until);) {
      const ssize_t got = ::recv(sock_, dropped, sizeof dropped, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      total += size_t(got);
    }
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
  // Adds what has come to the buffer, waiting for it until the request's deadline.
  bool Fill() {
    if (!Wait(POLLIN, deadline_)) return false;
    buffer_.erase(0, begin_);
    begin_ = 0;
    const size_t had = buffer_.size();
    buffer_.resize(had + kChunk);
    ssize_t got;
    do {
      got = ::recv(sock_, buffer_.data() + had, kChunk, 0);
    } while (got < 0 && errno == EINTR);
    buffer_.resize(had + size_t(std::max<ssize_t>(got, 0)));
    return got > 0;
  }

  bool Wait(short events, Clock::time_point until) const {
    while (!server_.Stopping()) {
      const auto left = std::chrono::ceil<milliseconds>(until - Clock::now());
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
  Clock::time_point end_;
  Clock::time_point deadline_ = Clock::now();
};

// Handlers run on the connection's worker thread, between the loop's reset and its check.
thread_local bool closeAfterRequest = false;

// Answers after which nothing more is read from the client: its request could not be parsed (the
// connection is in no known state), it carried what was refused (it may have sent more), or it
// was meant for another server (RFC 9110 has the client retry on a new connection).
bool ClosesConnection(int status) {
  for (const int closing : {400, 408, 411, 413, 414, 421, 431}) {
    if (status == closing) return true;
  }
  return false;
}

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
  // The stream keeps these times itself; cpp-httplib's copies make its Keep-Alive header true.
  set_keep_alive_timeout(std::max<time_t>(
      1, std::chrono::duration_cast<std::chrono::seconds>(limits_.idleTime).count()));
  set_read_timeout(limits_.requestDeadline);
  set_write_timeout(limits_.writeTimeout);
  set_error_handler(HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
    if (ClosesConnection(response.status)) {
      closeAfterRequest = true;
      if (!response.has_header("Connection")) response.set_header("Connection", "close");
    }
    return HandlerResponse::Unhandled;
  }));
}

bool GuardedServer::BoundToEveryAddress() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(svr_sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  if (address.ss_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == htonl(INADDR_ANY);
  }
  return address.ss_family == AF_INET6 &&
         IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

void GuardedServer::SetDefaultHeaders(const httplib::Headers& headers) {
  headers_ = headers;
  set_default_headers(headers);
}

void GuardedServer::CloseAfterThisRequest() {
  closeAfterRequest = true;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  if (active_.fetch_add(1) >= limits_.maxConnections) {
    Refuse(sock);
  } else {
    Serve(sock);
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  active_.fetch_sub(1);
  return true;
}

void GuardedServer::Serve(socket_t sock) {
  GuardedStream stream(sock, *this);
  for (size_t left = limits_.keepAliveRequests; left > 0 && !Stopping(); --left) {
    if (!stream.WaitForRequest()) return;
    const Head head = stream.ReadHead();
    if (head == Head::kGone) return;
    if (head != Head::kWhole) {
      stream.Answer(head);
      stream.LingerBeforeClose();
      return;
    }
    bool closed = false;
    closeAfterRequest = false;
    if (!process_request(stream, left == 1, closed, [](httplib::Request&) {}) || closed) return;
    if (closeAfterRequest) {
      stream.LingerBeforeClose();
      return;
    }
  }
}

}  // namespace vn::http
