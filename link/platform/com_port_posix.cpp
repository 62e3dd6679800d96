// The serial port on Linux and other POSIX systems, through termios.
//
// The descriptor is non-blocking throughout: a read only ever takes bytes that FIONREAD reported,
// and a write waits for room in slices of at most 50 ms so that RequestStop ends it. A port that
// vanishes (adapter pulled, the other end of a pseudo-terminal closed) clears PortOpened, so that
// every operation on it ends instead of spinning.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>

#include "link/system_port.h"

namespace vn {
namespace {

constexpr int kWriteSliceMs = 50;
constexpr std::chrono::microseconds kWaitSlice{50000};
// How long a read of bytes FIONREAD already reported may wait for the driver to hand them over.
constexpr int kReadSettleRounds = 20;
constexpr int kReadSettleMs = 5;

bool PortVanished(short revents) {
  return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

class PosixComPort final : public ComPort {
 public:
  ~PosixComPort() override { CloseDescriptor(); }

  bool OpenComPort(const std::string& name) override {
    CloseComPort();
    fd_ = ::open(ComDeviceName(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    // Nobody else may open the port while we hold it.
    ::ioctl(fd_, TIOCEXCL);
    opened_ = true;
    // A failed step leaves the descriptor open but unusable; the next close or open ends it.
    bool configured = ConfigureLine();
    if (!PurgeComPort()) configured = false;
    if (!configured) opened_ = false;
    return configured;
  }

  bool CloseComPort() override {
    opened_ = false;
    CloseDescriptor();
    return true;
  }

  bool PurgeComPort() override { return fd_ >= 0 && ::tcflush(fd_, TCIOFLUSH) == 0; }

  int32_t ComWrite(const uint8_t* data, int32_t count) override {
    // Only unread input is thrown away: flushing output too would drop an answer (an ACK, say)
    // that the driver has not sent yet when the next message follows it at once.
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
    if (count < 0 || count > kMaxTransfer || !opened_) return -1;
    int32_t written = 0;
    while (written < count && opened_) {
      const ssize_t n = ::write(fd_, data + written, size_t(count - written));
      if (n > 0) {
        written += int32_t(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        WaitForRoom();
      } else {
        if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) opened_ = false;
        break;
      }
    }
    return written;
  }

  int32_t ComReadExact(uint8_t* destination, int32_t count) override {
    if (count < 0 || count > kMaxTransfer || !opened_) return -1;
    const int32_t waiting = BytesWaiting();
    if (waiting != count) {
      // A surplus is lost whole: the box sends one message at a time, so extra bytes mean the
      // message is not the one awaited.
      if (waiting > count) ::tcflush(fd_, TCIFLUSH);
      return -1;
    }
    int32_t got = 0;
    for (int round = 0; got < count && opened_ && round < kReadSettleRounds;) {
      const ssize_t n = ::read(fd_, destination + got, size_t(count - got));
      if (n > 0) {
        got += int32_t(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
        // A raw line answers an empty read with 0, not EAGAIN: the bytes counted a moment ago
        // were flushed by someone else. A far end that is really gone shows as EIO or a hang-up.
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, kReadSettleMs);
        ++round;
      } else {
        opened_ = false;
      }
    }
    return got == count ? count : -1;
  }

  bool PortOpened() const override { return opened_; }
  void RequestStop() override { opened_ = false; }

  int32_t BytesWaiting() override {
    if (fd_ < 0 || !opened_) return -1;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
      opened_ = false;
      return -1;
    }
    return waiting;
  }

  void WaitForInput(std::chrono::microseconds limit) override {
    if (fd_ < 0 || !opened_ || limit.count() <= 0) return;
    limit = std::min(limit, kWaitSlice);
    const timespec timeout{time_t(limit.count() / 1000000), long(limit.count() % 1000000) * 1000};
    pollfd p{fd_, POLLIN, 0};
    if (::ppoll(&p, 1, &timeout, nullptr) > 0 && PortVanished(p.revents)) opened_ = false;
  }

 private:
  bool ConfigureLine() {
    termios original{};
    if (::tcgetattr(fd_, &original) != 0) return false;
    termios line = original;
    ::cfmakeraw(&line);
    ::cfsetispeed(&line, B115200);
    ::cfsetospeed(&line, B115200);
    line.c_cflag &= ~(CSIZE | CSTOPB | PARODD);
    line.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
    // Flow control stays as the driver had it; cfmakeraw would have cleared XON/XOFF.
    constexpr tcflag_t kInputFlow = IXON | IXOFF | IXANY;
    line.c_iflag = (line.c_iflag & ~kInputFlow) | (original.c_iflag & kInputFlow);
    line.c_cflag = (line.c_cflag & ~CRTSCTS) | (original.c_cflag & CRTSCTS);
    // Reads never block: the framing decides how long to wait.
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &line) == 0) return true;
    // A pseudo-terminal has no parity and drops PARENB silently; the C library then reports
    // EINVAL when nothing else changed (a reopen). Such a line is as good as we can get.
    termios applied{};
    if (errno != EINVAL || ::tcgetattr(fd_, &applied) != 0) return false;
    return applied.c_iflag == line.c_iflag && applied.c_oflag == line.c_oflag &&
           applied.c_lflag == line.c_lflag && (applied.c_cflag | PARENB) == line.c_cflag &&
           ::cfgetispeed(&applied) == B115200 && ::cfgetospeed(&applied) == B115200;
  }

  void WaitForRoom() {
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, kWriteSliceMs) > 0 && PortVanished(p.revents)) opened_ = false;
  }

  void CloseDescriptor() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    // Unsent output is dropped first: a real port would otherwise hold close() until it drains,
    // up to half a minute with the handshake lines down, and Reset must be immediate.
    ::tcflush(fd_, TCOFLUSH);
    ::close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
  std::atomic<bool> opened_{false};
};

}  // namespace

std::unique_ptr<ComPort> MakeSystemComPort() {
  return std::make_unique<PosixComPort>();
}

}  // namespace vn
