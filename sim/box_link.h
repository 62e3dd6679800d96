#pragma once
// The box's side of the cable's discipline. The PC flushes unread input on every write, and of
// messages it finds waiting together it keeps only well-formed ones, so the box sends one whole
// message at a time:
// an answer (ACK, NAK) straight after the message it answers, and anything on its own initiative
// only after the work that leads to it (judging a header, erasing, programming), as a real box
// does. It cannot see whether the PC has read what it sent. Received bytes are buffered as a
// stream and taken message by message; before a NAK the box waits for the line to go quiet and
// drops everything, so that it and the PC start the next message in step.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/message_trace.h"
#include "sim/pty_line.h"

namespace vn {

enum class Receipt {
  kOk,       // the whole message arrived
  kPartial,  // part of a message came, then the line went quiet: it will not be completed
  kTimeout,  // nothing (or not enough) within the time allowed
  kStopped,  // the box is being stopped
  kBroken,   // the pseudo-terminal failed
};

class BoxLink {
 public:
  using Clock = std::chrono::steady_clock;

  BoxLink(PtyLine& line, const std::atomic<bool>& stop, bool pace);

  // Takes the next `count` bytes the PC sent, waiting up to `timeout`.
  Receipt Receive(size_t count, std::chrono::milliseconds timeout, std::vector<uint8_t>& message);
  // Waits up to `period` for a start command (STX, 0x09 or 0x0A, any, ETX), dropping anything
  // else; the command's code, or nullopt. `broken` is set when the line failed.
  std::optional<uint8_t> WaitStartCommand(std::chrono::milliseconds period, bool& broken);

  // Writes the bytes (at line rate when pacing), keeping whatever the PC sent meanwhile.
  bool Write(std::span<const uint8_t> bytes);
  // Writes within a session: leftovers the PC sent are dropped first, since the PC never sends
  // ahead of the box's answer.
  bool Send(std::span<const uint8_t> bytes) {
    DiscardInput();
    return Write(bytes);
  }
  // Waits until nothing has arrived for a moment, dropping all of it: the rest of a damaged or
  // misaligned message. False when stopped or the line broke.
  bool Resync();
  // Drops what the PC sent and the box has already received.
  void DiscardInput();
  // Delays every later Receive by `stall` (a slow box that is late to read).
  void SetStall(std::chrono::milliseconds stall) { stall_ = stall; }
  // Sleeps, waking early on a stop; false when stopped.
  bool Sleep(std::chrono::microseconds duration);
  bool Stopped() const { return stop_.load(); }
  // Told of every message the box sends (as it begins to go out), takes or drops; null: none.
  void SetObserver(MessageObserver* observer) { observer_ = observer; }

 private:
  // Reads what arrives within `limit` into the buffer; false when the line broke.
  bool Fill(std::chrono::milliseconds limit);
  void Trace(TraceDirection direction, std::span<const uint8_t> bytes) {
    if (observer_ && !bytes.empty()) observer_->OnMessage(direction, bytes);
  }
  // Line time of `count` bytes at 115200 bit/s, 11 bits a byte.
  static std::chrono::microseconds LineTime(size_t count);

  PtyLine& line_;
  const std::atomic<bool>& stop_;
  const bool pace_;
  std::vector<uint8_t> buffer_;
  // When the first buffered byte began arriving, on the paced line's clock.
  Clock::time_point bufferSince_{};
  // With pacing, a message is answered only after the time it took on the line.
  Clock::time_point answerNotBefore_{};
  std::chrono::milliseconds stall_{0};
  MessageObserver* observer_ = nullptr;
};

}  // namespace vn
