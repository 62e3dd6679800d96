#include "link/link_tally.h"

#include <algorithm>

#include "link/message_trace.h"

namespace vn {

void LinkTally::StartBox() {
  counters_ = {};
  lastSentBytes_ = 0;
  stallArmed_ = false;
  lastFault_ = BoxFailureKind::kNone;
  lastFaultFailure_ = {};
}

void LinkTally::TimedOut() {
  ++counters_.timeouts;
  if (lastFault_ != BoxFailureKind::kUnexpectedAnswer && lastFault_ != BoxFailureKind::kDamagedData)
    NoteFault(BoxFailureKind::kNoAnswer);
}

void LinkTally::NoteFault(BoxFailureKind kind, Failure failure) {
  lastFault_ = kind;
  lastFaultFailure_ = std::move(failure);
}

void LinkTally::ArmStall(std::chrono::milliseconds limit) {
  stallLimit_ = limit;
  stallArmed_ = limit.count() > 0;
  lastProgress_ = Clock::now();
}

void LinkTally::Sent(std::span<const uint8_t> message) {
  if (observer_) observer_->OnMessage(TraceDirection::kSent, message);
  const auto bytes = int32_t(message.size());
  counters_.bytesSent += bytes;
  lastSentAt_ = Clock::now();
  lastSentBytes_ = bytes;
}

void LinkTally::Received(std::span<const uint8_t> message, bool accepted) {
  if (observer_) {
    observer_->OnMessage(accepted ? TraceDirection::kReceived : TraceDirection::kDropped, message);
  }
  counters_.bytesReceived += int64_t(message.size());
  if (!accepted) {
    NoteFault(BoxFailureKind::kUnexpectedAnswer);
    return;
  }
  NoteFault(BoxFailureKind::kNone);
}

void LinkTally::Answered(bool nak) {
  if (nak) {
    ++counters_.naksReceived;
    NoteFault(BoxFailureKind::kTooManyResends);
  }
  if (lastSentBytes_ <= 0) return;
  // The write returns once the bytes are queued; they are on the wire for their line time, and
  // the answer byte itself takes one more.
  const double lineMicros = double(LineTime(lastSentBytes_ + 1).count());
  const double tookMicros =
      std::chrono::duration<double, std::micro>(Clock::now() - lastSentAt_).count();
  counters_.answerDelayMicros += int64_t(std::max(0.0, tookMicros - lineMicros));
  ++counters_.answers;
  lastSentBytes_ = 0;  // one answer per message
}

void LinkTally::Dropped(std::span<const uint8_t> bytes) {
  if (observer_ && !bytes.empty()) observer_->OnMessage(TraceDirection::kDropped, bytes);
}

bool LinkTally::Stalled() const {
  return stallArmed_ && Clock::now() - lastProgress_ >= stallLimit_;
}

}  // namespace vn
