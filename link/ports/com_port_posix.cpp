// The serial port on Linux and other POSIX systems, through termios.
//
// The descriptor is non-blocking throughout: a read only ever takes bytes that FIONREAD reported,
// and a write waits for room in slices of at most 50 ms so that RequestStop ends it. A port that
// vanishes (adapter pulled, the other end of a pseudo-terminal closed) clears PortOpened, so that
// every operation on it ends instead of spinning.
//
// The line must carry all 256 byte values unchanged both ways: the header block's tag is 0x11
// (XON), and any byte may occur inside a frame. A fresh tty on Linux comes cooked (XON/XOFF,
// CR/NL mapping, echo, canonical lines), so every input, output and local mode is switched off
// here; only hardware flow control stays as the driver had it.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/line_rate.h"
#include "link/port_failure.h"
#include "link/system_port.h"

namespace vn {
namespace {

constexpr int kWriteSliceMs = 50;
constexpr std::chrono::microseconds kWaitSlice{50000};
// How long a read of bytes FIONREAD already reported may wait for the driver to hand them over.
constexpr int kReadSettleRounds = 20;
constexpr int kReadSettleMs = 5;
// What a close may wait for written bytes to leave: their line time plus this margin for the
// driver and the adapter.
constexpr std::chrono::milliseconds kDrainMargin{200};
constexpr std::chrono::milliseconds kDrainPoll{2};

// The platform's reading of errno, with what it means for a port: a path through a non-folder
// names no device, and anything else the system refused is a set-up the user cannot act on.
FailureKind ProblemOfOpenError(int error) {
  if (error == ENOTDIR) return FailureKind::kNotFound;
  const FailureKind kind = FailureOfErrno(error).kind;
  return kind == FailureKind::kOther ? FailureKind::kSetupFailed : kind;
}

// What a name is when it cannot be a serial port, in words for the message; empty for a
// character device, which may be one. The pseudo-terminal multiplexer is a character device, but
// opening it makes a new pseudo-terminal that no box is listening on.
std::string NotAPortKind(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return "a folder";
  if (S_ISREG(info.st_mode)) return "a regular file";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  if (S_ISBLK(info.st_mode)) return "a block device";
  if (!S_ISCHR(info.st_mode)) return "no device";
#ifdef __linux__
  if (::major(info.st_rdev) == 5 && ::minor(info.st_rdev) == 2) {
    return "the pseudo-terminal multiplexer";
  }
#endif
  return "";
}

// Whether the open descriptor is the master side of a pseudo-terminal: the box's end, never ours.
bool IsPtyMaster(int fd) {
#ifdef TIOCGPTN
  unsigned number = 0;
  return ::ioctl(fd, TIOCGPTN, &number) == 0;
#else
  (void)fd;
  return false;
#endif
}

// The first line of a small file under /proc, without its newline.
std::string ProcLine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  char text[64];
  const ssize_t n = ::read(fd, text, sizeof text);
  ::close(fd);
  std::string line(text, size_t(std::max<ssize_t>(n, 0)));
  return line.substr(0, line.find('\n'));
}

// The number of the pseudo-terminal the device is (/dev/pts/N), or -1 for any other device.
int PtyNumber(dev_t device) {
  constexpr unsigned kFirstPtsMajor = 136, kLastPtsMajor = 143;  // Unix98 pseudo-terminals
  const unsigned deviceMajor = major(device);
  if (deviceMajor < kFirstPtsMajor || deviceMajor > kLastPtsMajor) return -1;
  return int((deviceMajor - kFirstPtsMajor) * 256 + minor(device));
}

// Whether the descriptor, a pseudo-terminal master, is the master of pseudo-terminal `pty`: its
// /proc fdinfo says which.
bool IsMasterOf(const std::string& fdinfo, int pty) {
  const int fd = ::open(fdinfo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char text[512];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  const std::string info(text, size_t(std::max<ssize_t>(n, 0)));
  const size_t at = info.find("tty-index:");
  return at != std::string::npos && std::atoi(info.c_str() + at + 10) == pty;
}

// What a process has open of the device: the device itself, and the master side when the device
// is a pseudo-terminal (its far end, as the virtual box holds it). Its open descriptors are links
// under /proc/<pid>/fd.
struct Opened {
  bool device = false;
  bool master = false;
};

Opened OpenedBy(const std::string& pid, dev_t device) {
  const std::string fdFolder = "/proc/" + pid + "/fd";
  const int pty = PtyNumber(device);
  Opened opened;
  DIR* descriptors = ::opendir(fdFolder.c_str());
  if (descriptors == nullptr) return opened;
  while (const dirent* descriptor = ::readdir(descriptors)) {
    const std::string link = fdFolder + "/" + descriptor->d_name;
    char target[16];
    // Pipes, sockets and files are passed over without a look at what they are.
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n < 5 || std::string(target, 5) != "/dev/") continue;
    const std::string name(target, size_t(n));
    if (pty >= 0 && (name == "/dev/ptmx" || name == "/dev/pts/ptmx")) {
      opened.master =
          opened.master || IsMasterOf("/proc/" + pid + "/fdinfo/" + descriptor->d_name, pty);
      continue;
    }
    struct stat info;
    if (::stat(link.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device) {
      opened.device = true;
    }
  }
  ::closedir(descriptors);
  return opened;
}

// Which program holds the device, as fuser finds it: "minicom, pid 4711". Named only when it is
// known: the one process other than this one with the device open (this one when there is none),
// leaving out the far end of a pseudo-terminal (the virtual box keeps its own side open, but the
// mode is some other program's). Empty when there is none that this user may look at (another
// user's processes are hidden from all but root), or several.
std::string HolderOf(dev_t device) {
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return "";
  const std::string self = std::to_string(::getpid());
  std::vector<std::string> holders;
  bool selfHolds = false;
  while (const dirent* process = ::readdir(processes)) {
    const std::string pid = process->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const Opened opened = OpenedBy(pid, device);
    if (!opened.device || opened.master) continue;
    if (pid == self) {
      selfHolds = true;
      continue;
    }
    holders.push_back(pid);
  }
  ::closedir(processes);
  // This very program, opening a port it holds already, is named last.
  if (holders.empty() && selfHolds) holders.push_back(self);
  if (holders.size() != 1) return "";
  const std::string name = ProcLine("/proc/" + holders[0] + "/comm");
  return (name.empty() ? "a program" : name) + ", pid " + holders[0];
}

bool PortVanished(short revents) {
  return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The system's words for a port that poll found gone; poll gives no errno.
Failure VanishFailure(short revents) {
  const char* words = (revents & POLLHUP)   ? "the line hung up"
                      : (revents & POLLERR) ? "the device reported an error"
                                            : "the port's descriptor is no longer valid";
  return FailureSaying(FailureKind::kNotFound, words);
}

class PosixComPort final : public ComPort {
 public:
  ~PosixComPort() override { CloseComPort(); }

  bool OpenComPort(const std::string& name) override {
    CloseComPort();
    failure_ = {};
    ClearLoss();
    const std::string device = ComDeviceName(name);
    // The kind is told before the open, so that a folder or a FIFO is named as what it is, and
    // again after it, of what was really opened.
    struct stat info {};
    if (::stat(device.c_str(), &info) == 0 && !NotAPortKind(info).empty()) {
      return NotAPort(NotAPortKind(info));
    }
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      Fail(ProblemOfOpenError(error), error);
      // Without root, a port another program holds in exclusive mode refuses the open.
      if (error == EBUSY && S_ISCHR(info.st_mode)) failure_.detail = HolderOf(info.st_rdev);
      return false;
    }
    if (::fstat(fd_, &info) != 0) return Fail(FailureKind::kSetupFailed);
    if (!NotAPortKind(info).empty()) return NotAPort(NotAPortKind(info));
    if (IsPtyMaster(fd_)) return NotAPort("a pseudo-terminal master");
    if (!::isatty(fd_)) return Fail(FailureKind::kWrongKind, ENOTTY);
    // Root opens a port that another program holds in exclusive mode (TIOCEXCL) all the same; it
    // is refused here, before this program sets the mode itself. The advisory lock keeps out
    // every other copy of this program, whether it got the exclusive mode or not.
    int exclusive = 0;
#ifdef TIOCGEXCL
    if (::ioctl(fd_, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
#endif
    int busyError = EBUSY;
    if (exclusive == 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return Fail(FailureKind::kSetupFailed);
      busyError = errno;
      exclusive = 1;
    }
    if (exclusive != 0) {
      Fail(FailureKind::kBusy, busyError);
      failure_.detail = HolderOf(info.st_rdev);
      return false;
    }
    // Cleared at the close only when set here: another program's exclusive mode is not ours.
    exclusiveSet_ = ::ioctl(fd_, TIOCEXCL) == 0;
    AskForLowLatency();
    opened_ = true;
    stopRequested_ = false;
    // A failed step leaves the descriptor open but unusable; the next close or open ends it.
    bool configured = ConfigureLine();
    if (!PurgeComPort()) configured = false;
    if (!configured) {
      opened_ = false;
      failure_ = {.kind = FailureKind::kSetupFailed, .systemMessage = std::strerror(errno)};
    }
    return configured;
  }

  bool CloseComPort() override {
    // A stop asked for by the user drops unsent output; an operation that ended by itself lets it
    // go out, since the box is still owed the answers written last.
    const bool drain = !stopRequested_.exchange(false);
    opened_ = false;
    CloseDescriptor(drain);
    return true;
  }

  Failure LastOpenFailure() const override {
    return failure_;
  }

  bool PurgeComPort() override {
    return fd_ >= 0 && ::tcflush(fd_, TCIOFLUSH) == 0;
  }

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
        if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) Lose(errno);
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
        Lose(errno);
      }
    }
    return got == count ? count : -1;
  }

  int32_t ComReadSome(uint8_t* destination, int32_t max) override {
    if (fd_ < 0 || max < 0 || max > kMaxTransfer || !opened_) return -1;
    if (max == 0) return 0;
    for (;;) {
      const ssize_t n = ::read(fd_, destination, size_t(max));
      if (n >= 0) return int32_t(n);  // a raw line with nothing waiting answers 0
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      Lose(errno);  // EIO: the far end of a pseudo-terminal or the adapter is gone
      return -1;
    }
  }

  bool PortOpened() const override {
    return opened_;
  }
  void RequestStop() override {
    stopRequested_ = true;
    opened_ = false;
  }

  int32_t BytesWaiting() override {
    if (fd_ < 0 || !opened_) return -1;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
      Lose(errno);
      return -1;
    }
    return waiting;
  }

  void WaitForInput(std::chrono::microseconds limit) override {
    if (fd_ < 0 || !opened_ || limit.count() <= 0) return;
    limit = std::min(limit, kWaitSlice);
    const timespec timeout{time_t(limit.count() / 1000000), long(limit.count() % 1000000) * 1000};
    pollfd p{fd_, POLLIN, 0};
    if (::ppoll(&p, 1, &timeout, nullptr) > 0 && PortVanished(p.revents)) Vanish(p.revents);
  }

 private:
  bool ConfigureLine() {
    termios original{};
    if (::tcgetattr(fd_, &original) != 0) return false;
    termios line = original;
    // No input processing at all: no XON/XOFF (which would eat 0x11 and 0x13), no CR/NL mapping,
    // no stripping to 7 bits, no parity marking or checking (the protocol's checksums judge the
    // data), no break handling. No output processing, no echo, no canonical lines, no signals.
    line.c_iflag = 0;
    line.c_oflag = 0;
    line.c_lflag = 0;
    line.c_cflag &= ~(CSIZE | CSTOPB | PARODD);
    line.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
    ::cfsetispeed(&line, B115200);
    ::cfsetospeed(&line, B115200);
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

  // USB adapters hold received bytes for their latency timer (16 ms by default) before passing
  // them on, which a lock-step line pays on every answer. Drivers that know the low-latency flag
  // shorten it; the others refuse, and nothing else changes.
  void AskForLowLatency() {
#ifdef __linux__
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
    if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd_, TIOCSSERIAL, &serial) == 0) lowLatencySet_ = true;
#endif
  }

  void RestoreLatency() {
#ifdef __linux__
    if (!lowLatencySet_) return;
    lowLatencySet_ = false;
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd_, TIOCSSERIAL, &serial);
#endif
  }

  bool Fail(FailureKind problem, int error = errno) {
    failure_ = {.kind = problem, .systemMessage = std::strerror(error), .systemCode = error};
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  }

  bool NotAPort(const std::string& kind) {
    Fail(FailureKind::kWrongKind);
    failure_ = {.kind = FailureKind::kWrongKind, .detail = kind};
    return false;
  }

  // Waits until the driver has passed on what was written, for at most its line time and a
  // margin; true when nothing is left. On a pseudo-terminal the bytes are with the other end as
  // soon as they are written.
  bool DrainOutput() {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + kDrainMargin + LineTime(queued);
    while (queued > 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kDrainPoll);
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    }
    return queued == 0;
  }

  // The port went away under a read or a write; a stop that got there first is no loss.
  void Lose(int error) {
    if (opened_) NoteLoss(FailureOfErrno(error));
    opened_ = false;
  }
  void Vanish(short revents) {
    if (opened_) NoteLoss(VanishFailure(revents));
    opened_ = false;
  }

  void WaitForRoom() {
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, kWriteSliceMs) > 0 && PortVanished(p.revents)) Vanish(p.revents);
  }

  void CloseDescriptor(bool drain) {
    if (fd_ < 0) return;
    // Whatever is still unsent when the close comes is dropped first: a real port would otherwise
    // hold close() until it drains, up to half a minute with the handshake lines down. Flushing
    // only what did not leave in time keeps the last answers of a finished operation.
    if (!drain || !DrainOutput()) ::tcflush(fd_, TCOFLUSH);
    RestoreLatency();
    if (exclusiveSet_) ::ioctl(fd_, TIOCNXCL);
    exclusiveSet_ = false;
    ::close(fd_);  // also releases the advisory lock
    fd_ = -1;
  }

  int fd_ = -1;
  std::atomic<bool> opened_{false};
  std::atomic<bool> stopRequested_{false};
  bool lowLatencySet_ = false;
  bool exclusiveSet_ = false;
  Failure failure_;
};

}  // namespace

std::string ListedComDevice(int number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::string PermissionAdvice() {
  return "; add your user to the dialout group and log in again";
}

std::unique_ptr<ComPort> MakeSystemComPort() {
  return std::make_unique<PosixComPort>();
}

}  // namespace vn
