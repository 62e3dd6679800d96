#pragma once
// Waiting for a lock another program may hold, the same on every system; only the try is the
// system's own.
#include <atomic>
#include <chrono>
#include <functional>

#include "platform/failure.h"

namespace vn {

enum class LockTry {
  kHeld,    // the lock is ours
  kBusy,    // another holds it: try again
  kFailed,  // the system refused for good; the try has set the failure
};

// Calls `tryLock` until it holds or fails, `stop` turns true (kStopped) or `wait` has passed
// (kBusy); true once the lock is held.
bool WaitForLock(const std::function<LockTry(Failure&)>& tryLock, std::chrono::seconds wait,
                 const std::atomic<bool>* stop, Failure& failure);

}  // namespace vn
