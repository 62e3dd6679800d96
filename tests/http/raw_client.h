#pragma once
// A hostile client's view of a server on loopback: raw bytes in, the raw answer out.
#include <chrono>
#include <string>

namespace vn::testing {

class RawConnection {
 public:
  // To a loopback address: "127.0.0.1" or "::1".
  explicit RawConnection(int port, const std::string& address = "127.0.0.1");
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // What arrives until the server closes or `wait` passes with nothing new.
  std::string Receive(std::chrono::milliseconds wait);
  // Whether the server closed the connection within `wait` (0: by now); what came meanwhile is
  // added to `received` when given.
  bool ClosedWithin(std::chrono::milliseconds wait, std::string* received = nullptr);

 private:
  int fd_ = -1;
};

// One request on a fresh connection; the whole answer.
std::string Exchange(int port, const std::string& request,
                     std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
// 200 from "HTTP/1.1 200 OK\r\n..."; -1 when there is no status line.
int StatusOf(const std::string& answer);
// A header's value from an answer ("" when absent); the name is matched without case.
std::string HeaderOf(const std::string& answer, const std::string& name);
// What follows the head.
std::string BodyOf(const std::string& answer);

}  // namespace vn::testing
