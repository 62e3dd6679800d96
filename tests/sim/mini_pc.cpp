#include "mini_pc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace vn::testing {

MiniPc::MiniPc(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return;
  termios settings{};
  tcgetattr(fd_, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd_, TCSANOW, &settings);
  tcflush(fd_, TCIOFLUSH);
}

MiniPc::~MiniPc() {
  Close();
}

void MiniPc::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool MiniPc::Write(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return false;
  tcflush(fd_, TCIFLUSH);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno != EAGAIN) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    done += size_t(n);
  }
  return true;
}

PcRead MiniPc::Read(size_t count, std::vector<uint8_t>& message,
                    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd_, POLLIN, 0};
    poll(&entry, 1, 5);
    if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return PcRead::kVanished;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) return PcRead::kVanished;
    if (size_t(waiting) > count) {
      tcflush(fd_, TCIFLUSH);
    } else if (size_t(waiting) == count) {
      message.resize(count);
      if (read(fd_, message.data(), count) == ssize_t(count)) return PcRead::kOk;
      return PcRead::kVanished;
    } else if (waiting > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return PcRead::kTimeout;
}

std::vector<uint8_t> MiniPc::Read(size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> message;
  if (Read(count, message, timeout) != PcRead::kOk) message.clear();
  return message;
}

bool MiniPc::Connect(uint8_t startCode) {
  const auto ready = Read(kCommandFrameSize);
  return ready.size() == 4 && ready[0] == STX && ready[1] == kCodeReady && WriteCommand(startCode);
}

}  // namespace vn::testing
