#pragma once
// The line page's share of a run, for bench_many_stations --http: a tee that hands the page each
// station's events as `--json` writes them, and event-stream clients that read all it sends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/event_json.h"
#include "http/line_server.h"
#include "link/link_observer.h"
#include "phase_clock.h"

namespace vn {

class PageTee : public LinkObserver {
 public:
  explicit PageTee(LinkObserver& next) : next_(next) {}
  void Serve(http::LineServer* server, std::string port) {
    server_ = server;
    port_ = std::move(port);
  }
  void OnEvent(const LinkEvent& event) override {
    next_.OnEvent(event);
    if (server_ && event.kind != EventKind::kBar) server_->Feed(EventJson(port_, event));
  }
  void OnErrorBox(const std::string& text) override { next_.OnErrorBox(text); }
  void OnDetail(const std::string& text) override { next_.OnDetail(text); }

 private:
  LinkObserver& next_;
  http::LineServer* server_ = nullptr;
  std::string port_;
};

// Clients of /api/v1/events on loopback, each on its own thread, reading until the server ends
// the stream. Their CPU is theirs, not the server's: each thread reads its own clock at its end.
class StreamReaders {
 public:
  StreamReaders(int port, int count) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this, port] { Read(port); });
  }
  ~StreamReaders() { Join(); }
  void Join() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  double Cpu() const { return cpu_.load(); }
  long long Bytes() const { return bytes_.load(); }

 private:
  void Read(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request = "GET /api/v1/events HTTP/1.1\r\nHost: localhost\r\n\r\n";
      (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      char buffer[16384];
      for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) bytes_ += got;
    }
    ::close(fd);
    const double cpu = CpuNow().thread;
    for (double seen = cpu_.load(); !cpu_.compare_exchange_weak(seen, seen + cpu);) {
    }
  }

  std::vector<std::thread> threads_;
  std::atomic<double> cpu_{0};
  std::atomic<long long> bytes_{0};
};

}  // namespace vn
