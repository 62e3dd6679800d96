// SIGINT, SIGTERM and SIGHUP (the terminal or the SSH connection closed) are taken on a thread of
// their own with sigwait, so that nothing but an ordinary thread acts on them; SIGUSR1 only tells
// that thread to finish, and the destructor joins it.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <thread>

#include "platform/console.h"

namespace vn {

struct StopRequests::State {
  std::thread thread;
  sigset_t before;  // the caller's mask, given back when the requests end
};

namespace {

std::atomic<bool> gStopRequested{false};

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  ::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, &state_->before);
  gStopRequested = false;
  state_->thread = std::thread([set, onStop = std::move(onStop)] {
    int signal = 0;
    while (sigwait(&set, &signal) == 0 && signal != SIGUSR1) {
      gStopRequested = true;
      onStop();
    }
  });
}

StopRequests::~StopRequests() {
  pthread_kill(state_->thread.native_handle(), SIGUSR1);
  state_->thread.join();
  // From here on a stop request ends the process again, as it did before.
  pthread_sigmask(SIG_SETMASK, &state_->before, nullptr);
}

void KeepStopRequestsOffThisThread() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool StopRequested() {
  return gStopRequested;
}

bool WriteStandardError(std::string_view text, const std::function<bool()>& giveUp) {
  // Writers take turns only for a write that finds room: on a pipe, PIPE_BUF bytes at most, which
  // go in at once. The wait for room is a poll that holds nothing.
  static std::mutex turn;
  size_t written = 0;
  while (written < text.size()) {
    pollfd error{STDERR_FILENO, POLLOUT, 0};
    const int ready = ::poll(&error, 1, 50);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && (error.revents & (POLLERR | POLLNVAL)) != 0) return false;
    if (ready <= 0) {
      if (StopRequested() || (giveUp && giveUp())) return false;
      continue;
    }
    const std::lock_guard lock(turn);
    if (::poll(&error, 1, 0) != 1) continue;  // another writer took the room
    const size_t chunk = std::min(text.size() - written, size_t(PIPE_BUF));
    const ssize_t n = ::write(STDERR_FILENO, text.data() + written, chunk);
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (n > 0) written += size_t(n);
  }
  return true;
}

bool IsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace vn
