#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vn {
namespace {

constexpr int kFullLineWaitMs = 20;

}  // namespace

PtyLine::~PtyLine() {
  Close();
}

bool PtyLine::Open(Failure& failure) {
  Close();
  // Close-on-exec: a child process holding a copy of the master would keep the line alive.
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    failure = FailureOfErrno(errno, "posix_openpt");
    return false;
  }
  char name[128] = {};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
    failure = FailureOfErrno(errno, "pseudo-terminal set-up");
    Close();
    return false;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0 || fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
    failure = FailureOfErrno(errno, "pseudo-terminal slave");
    Close();
    return false;
  }
  return true;
}

void PtyLine::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

int PtyLine::Unread() const {
  if (slave_ < 0) return -1;
  // What the box wrote reaches the slave's input queue through a kernel work item a moment
  // later, and the count leaves out what is still on its way (under load, for many
  // milliseconds). A look with poll waits for that work, so the count includes it.
  pollfd entry{slave_, POLLIN, 0};
  poll(&entry, 1, 0);
  int waiting = 0;
  if (ioctl(slave_, FIONREAD, &waiting) != 0) return -1;
  return waiting;
}

long PtyLine::WriteSome(const uint8_t* data, size_t count) {
  if (master_ < 0) return -1;
  const ssize_t written = write(master_, data, count);
  if (written >= 0) return long(written);
  if (errno != EAGAIN && errno != EINTR) return -1;
  pollfd entry{master_, POLLOUT, 0};
  poll(&entry, 1, kFullLineWaitMs);
  return 0;
}

long PtyLine::ReadSome(uint8_t* destination, size_t capacity, std::chrono::milliseconds limit) {
  if (master_ < 0) return -1;
  pollfd entry{master_, POLLIN, 0};
  const int ready = poll(&entry, 1, int(limit.count()));
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  const ssize_t got = read(master_, destination, capacity);
  if (got > 0) return long(got);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;
}

}  // namespace vn
