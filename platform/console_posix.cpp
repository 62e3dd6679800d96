// SIGINT and SIGTERM are taken on a thread of their own with sigwait, so that nothing but an
// ordinary thread acts on them; SIGUSR1 only tells that thread to finish, and the destructor
// joins it.
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <thread>

#include "platform/console.h"

namespace vn {

struct StopRequests::State {
  std::thread thread;
  sigset_t before;  // the caller's mask, given back when the requests end
};

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  ::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, &state_->before);
  state_->thread = std::thread([set, onStop = std::move(onStop)] {
    int signal = 0;
    while (sigwait(&set, &signal) == 0 && signal != SIGUSR1) onStop();
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

bool IsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace vn
