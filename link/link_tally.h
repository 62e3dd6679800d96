#pragma once
// The port's running account of the box being served: the counters every event carries, the
// timing of the box's answers, and the stall limit of an unattended line. The framing code reports
// to it as it talks; the operation driver starts it afresh for each box. Touched only by the
// thread that runs the operation.
#include <chrono>
#include <cstdint>
#include <span>

#include "link/box_outcome.h"
#include "link/link_counters.h"
#include "platform/failure.h"

namespace vn {

class MessageObserver;  // link/message_trace.h

class LinkTally {
 public:
  using Clock = std::chrono::steady_clock;

  // A new box: counters at zero, the stall limit not yet armed (waiting for a box is no stall).
  void StartBox();
  // From the box's first frame on, `limit` without progress fails the box; 0 never.
  void ArmStall(std::chrono::milliseconds limit);
  // The exchange moved on: the box acknowledged a message, the PC acknowledged one of the box's,
  // or a report or verdict of the box was taken. Bytes that keep coming are no progress: a NAK,
  // a message resent, a message refused.
  void Progressed() { lastProgress_ = Clock::now(); }

  // Told of every message too, for a trace; kept across boxes. Null: none. Set before the
  // operation starts; the observer outlives it.
  void SetObserver(MessageObserver* observer) { observer_ = observer; }

  void Sent(std::span<const uint8_t> message);
  // A whole message read; `accepted` when it was the one awaited (garbage is no progress).
  void Received(std::span<const uint8_t> message, bool accepted);
  // Bytes read and dropped without being taken as a message (counted nowhere, only traced).
  void Dropped(std::span<const uint8_t> bytes);
  // The box's ACK or NAK to the last message sent.
  void Answered(bool nak);
  void Resent() { ++counters_.framesResent; }
  // Why the last exchange that went wrong did, told where the framing or the transfer learns it:
  // a time-out, a NAK, a check that failed, a message that was not the one awaited, a refusal or
  // a failure the box reported, an output that could not be written. The last one told is the
  // one that ended the box when it ends; a message accepted since clears it. `failure` holds the
  // system's words when there are any.
  void NoteFault(BoxFailureKind kind, Failure failure = {});
  BoxFailureKind LastFault() const { return lastFault_; }
  const Failure& LastFaultFailure() const { return lastFaultFailure_; }
  void NakSent() { ++counters_.naksSent; }
  // A limited wait ran out. Silence is its cause unless what did come in the meantime was
  // unsound or not the message awaited.
  void TimedOut();
  // A sleep in a wait ended `late` after it was planned to.
  void WokeLate(std::chrono::microseconds late) {
    ++counters_.wakeups;
    counters_.wakeupDelayMicros += late.count();
  }

  // True once the armed limit has passed without progress.
  bool Stalled() const;
  std::chrono::milliseconds StallLimit() const { return stallLimit_; }
  const LinkCounters& Counters() const { return counters_; }

 private:
  LinkCounters counters_;
  MessageObserver* observer_ = nullptr;
  Clock::time_point lastSentAt_{};
  int32_t lastSentBytes_ = 0;
  std::chrono::milliseconds stallLimit_{0};
  bool stallArmed_ = false;
  Clock::time_point lastProgress_{};
  BoxFailureKind lastFault_ = BoxFailureKind::kNone;
  Failure lastFaultFailure_{};
};

}  // namespace vn
