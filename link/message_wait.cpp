#include "link/message_wait.h"

#include "link/line_rate.h"

#include <algorithm>
#include <thread>

namespace vn {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

constexpr microseconds kSlice{50000};
constexpr microseconds kShortestPause{100};
microseconds LineTimeOf(int32_t bytes) {
  return std::max(kShortestPause, LineTime(bytes));
}

}  // namespace

WaitOutcome AwaitMessage(ComPort& port, uint8_t* destination, int32_t size, FirstByteTest accept,
                         int polls) {
  if (size <= 0 || size > kMaxTransfer) return WaitOutcome::kTimedOut;
  const bool limited = polls != kNoPollLimit;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? polls : 0);
  int32_t lastWaiting = -1;
  microseconds pause = kShortestPause;
  LinkTally& tally = port.Tally();
  for (;;) {
    if (!port.PortOpened()) return WaitOutcome::kStopped;
    const bool dropped = port.ComReadExact(destination, size) == size;
    if (dropped) {
      const bool arrived = accept(destination[0]);
      tally.Received(size, arrived);
      if (arrived) return WaitOutcome::kArrived;
    }
    // A box that has said nothing useful for the stall limit fails every wait at once, so the
    // retries that follow end quickly too.
    if (tally.Stalled()) {
      tally.TimedOut();
      return WaitOutcome::kTimedOut;
    }
    microseconds slice = kSlice;
    if (limited) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline) {
        tally.TimedOut();
        return WaitOutcome::kTimedOut;
      }
      slice = std::min(slice, std::chrono::ceil<microseconds>(deadline - now));
    }
    // A message of the right size with a wrong first byte is dropped; the budget still counts,
    // so a stream of garbage cannot hold a limited wait open.
    if (dropped) continue;
    const int32_t waiting = port.BytesWaiting();
    if (waiting >= size) continue;  // complete by now: the next read takes or drops it
    if (waiting <= 0) {
      lastWaiting = waiting;
      port.WaitForInput(slice);
      continue;
    }
    // Part of a message is in. While bytes keep coming, sleep until the rest should be there;
    // when none came since the last look, back off towards the slice so that a message that
    // never completes costs little.
    pause = waiting == lastWaiting ? std::min(pause * 2, kSlice) : LineTimeOf(size - waiting);
    lastWaiting = waiting;
    std::this_thread::sleep_for(std::min(pause, slice));
  }
}

}  // namespace vn
