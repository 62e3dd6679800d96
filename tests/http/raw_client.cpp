#include "raw_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace vn::testing {

RawConnection::RawConnection(int port, const std::string& address) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return;
  fd_ = ::socket(found->ai_family, SOCK_STREAM, 0);
  if (::connect(fd_, found->ai_addr, found->ai_addrlen) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
  ::freeaddrinfo(found);
}

RawConnection::~RawConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t got = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (got <= 0) return false;
    sent += size_t(got);
  }
  return true;
}

std::string RawConnection::Receive(std::chrono::milliseconds wait) {
  std::string answer;
  char buffer[4096];
  for (;;) {
    pollfd watched{fd_, POLLIN, 0};
    if (::poll(&watched, 1, int(wait.count())) <= 0) break;
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    answer.append(buffer, size_t(got));
  }
  return answer;
}

bool RawConnection::ClosedWithin(std::chrono::milliseconds wait, std::string* received) {
  const auto until = std::chrono::steady_clock::now() + wait;
  char buffer[4096];
  for (;;) {
    // What has come is read without waiting; with time left, up to 50 ms more.
    const bool timeLeft = std::chrono::steady_clock::now() < until;
    pollfd watched{fd_, POLLIN, 0};
    if (::poll(&watched, 1, timeLeft ? 50 : 0) > 0) {
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return true;
      if (received) received->append(buffer, size_t(got));
    } else if (!timeLeft) {
      return false;
    }
  }
}

std::string Exchange(int port, const std::string& request, std::chrono::milliseconds wait) {
  RawConnection connection(port);
  if (!connection.Connected() || !connection.Send(request)) return {};
  return connection.Receive(wait);
}

int StatusOf(const std::string& answer) {
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return -1;
  return std::atoi(answer.c_str() + 9);
}

std::string HeaderOf(const std::string& answer, const std::string& name) {
  const size_t headEnd = answer.find("\r\n\r\n");
  std::string lowered = answer.substr(0, headEnd);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  const size_t at = lowered.find("\r\n" + key + ":");
  if (at == std::string::npos) return {};
  size_t begin = at + 2 + key.size() + 1;
  while (begin < answer.size() && answer[begin] == ' ') ++begin;
  return answer.substr(begin, answer.find("\r\n", begin) - begin);
}

std::string BodyOf(const std::string& answer) {
  const size_t headEnd = answer.find("\r\n\r\n");
  return headEnd == std::string::npos ? std::string() : answer.substr(headEnd + 4);
}

}  // namespace vn::testing
