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
// More than any message and what may follow it; a box that floods the line is read in turns.
constexpr size_t kPendingLimit = 2 * size_t(kMaxTransfer);

microseconds LineTimeOf(int32_t bytes) {
  return std::max(kShortestPause, LineTime(bytes));
}

// Moves what the port holds into the pending input.
void Pull(ComPort& port, std::vector<uint8_t>& pending) {
  uint8_t chunk[kMaxTransfer];
  while (pending.size() < kPendingLimit) {
    const int32_t got = port.ComReadSome(chunk, kMaxTransfer);
    if (got <= 0) return;
    pending.insert(pending.end(), chunk, chunk + got);
    if (got < kMaxTransfer) return;
  }
}

// Sleeps through `sleep` for about `planned` and tells the tally how much later it woke.
template <typename Sleep>
void TimedSleep(LinkTally& tally, microseconds planned, Sleep sleep) {
  const Clock::time_point start = Clock::now();
  sleep();
  const auto slept = std::chrono::duration_cast<microseconds>(Clock::now() - start);
  // A wait on the port that ended early ended because input came: no measure of lateness.
  if (slept >= planned) tally.WokeLate(slept - planned);
}

}  // namespace

void DropPendingInput(ComPort& port) {
  port.Tally().Dropped(port.PendingInput());
  port.PendingInput().clear();
}

WaitOutcome AwaitMessage(ComPort& port, uint8_t* destination, int32_t size, FirstByteTest accept,
                         WholeTest whole, int polls) {
  if (size <= 0 || size > kMaxTransfer) return WaitOutcome::kTimedOut;
  const bool limited = polls != kNoPollLimit;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? polls : 0);
  int32_t lastWaiting = -1;
  microseconds pause = kShortestPause;
  LinkTally& tally = port.Tally();
  std::vector<uint8_t>& pending = port.PendingInput();
  for (;;) {
    if (!port.PortOpened()) return WaitOutcome::kStopped;
    // A message held already is taken without asking the port again: a box that hung up after
    // sending its last two messages together must not make the second look lost.
    if (pending.size() < size_t(size)) Pull(port, pending);
    bool dropped = false;
    if (pending.size() > size_t(size) &&
        !(accept(pending[0]) && whole != nullptr && whole(pending.data()))) {
      tally.Dropped(pending);
      pending.clear();  // not the awaited message, so what follows cannot be told apart either
    } else if (pending.size() >= size_t(size)) {
      std::copy_n(pending.begin(), size, destination);
      pending.erase(pending.begin(), pending.begin() + size);
      const bool arrived = accept(destination[0]);
      tally.Received(std::span(destination, size_t(size)), arrived);
      if (arrived) return WaitOutcome::kArrived;
      dropped = true;
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
    const int32_t unread = port.BytesWaiting();
    const int32_t waiting = int32_t(pending.size()) + std::max(unread, 0);
    if (waiting >= size) continue;  // complete by now: the next look takes or drops it
    if (waiting <= 0 || unread < 0) {
      lastWaiting = waiting;
      TimedSleep(tally, slice, [&] { port.WaitForInput(slice); });
      continue;
    }
    // Part of a message is in. While bytes keep coming, sleep until the rest should be there;
    // when none came since the last look, back off towards the slice so that a message that
    // never completes costs little.
    pause = waiting == lastWaiting ? std::min(pause * 2, kSlice) : LineTimeOf(size - waiting);
    lastWaiting = waiting;
    const microseconds nap = std::min(pause, slice);
    TimedSleep(tally, nap, [&] { std::this_thread::sleep_for(nap); });
  }
}

}  // namespace vn
