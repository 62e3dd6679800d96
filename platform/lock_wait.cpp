#include "platform/lock_wait.h"

#include <string>
#include <thread>

namespace vn {
namespace {

constexpr std::chrono::milliseconds kLockPoll{20};

}  // namespace

bool WaitForLock(const std::function<LockTry(Failure&)>& tryLock, std::chrono::seconds wait,
                 const std::atomic<bool>* stop, Failure& failure) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    switch (tryLock(failure)) {
      case LockTry::kHeld:
        return true;
      case LockTry::kFailed:
        return false;
      case LockTry::kBusy:
        break;
    }
    if (stop && stop->load()) {
      failure =
          FailureSaying(FailureKind::kStopped, "stopped while another program held the lock on it");
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      failure = FailureSaying(FailureKind::kBusy, "another program held the lock on it for " +
                                                      std::to_string(wait.count()) + " s");
      return false;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

}  // namespace vn
