#pragma once
// The serial port the PC talks to the box through. One small interface, one implementation
// per platform (termios on Linux), and an in-memory pair for tests.
//
// ComReadExact succeeds only when exactly `count` bytes wait; a surplus is flushed and lost
// whole; fewer are left for a later call. The framing's waits read through ComReadSome instead
// and keep what follows a message in the port's pending input (see message_wait.h). Every write
// first flushes unread input. At most 2048 bytes per call.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_tally.h"
#include "link/port_failure.h"

namespace vn {

inline constexpr int32_t kMaxTransfer = 2048;

class ComPort {
 public:
  virtual ~ComPort() = default;

  // Opens and configures the port (115200 bit/s, 8 data bits, even parity, one stop bit, every
  // byte carried unchanged both ways). `name` is "COM.01".."COM.10", "COM1".."COM10" or a device
  // path. Closes whatever was open first. False when the port cannot be opened or configured;
  // LastOpenFailure then says why.
  virtual bool OpenComPort(const std::string& name) = 0;
  // Always true. After an operation that ended by itself, what was written still goes out (the
  // box is owed its last answers), within its line time and a margin; after RequestStop, unsent
  // output is dropped so that the close is immediate.
  virtual bool CloseComPort() = 0;
  // Discards unread input and unsent output.
  virtual bool PurgeComPort() = 0;
  // Flushes unread input, then writes all `count` bytes; the number written, or -1.
  virtual int32_t ComWrite(const uint8_t* data, int32_t count) = 0;
  // `count` when exactly that many bytes were waiting and were read; otherwise -1.
  virtual int32_t ComReadExact(uint8_t* destination, int32_t count) = 0;
  // Reads up to `max` (0..2048) of the bytes waiting now, without waiting for more: the count
  // read, 0 when none wait, -1 when the port is not usable or `max` is out of range.
  virtual int32_t ComReadSome(uint8_t* destination, int32_t max) = 0;

  // True while the port is open and usable. Cleared by CloseComPort, by a failed set-up, by a
  // port that vanished, and by RequestStop.
  virtual bool PortOpened() const = 0;
  // The cancel: clears PortOpened from any thread, so that every wait ends at its next poll.
  // The descriptor stays open until CloseComPort runs on the thread that owns the port.
  virtual void RequestStop() = 0;

  // Why the last OpenComPort failed; kNone after a successful one.
  virtual Failure LastOpenFailure() const { return {}; }
  // What the last OpenComPort asks to be shown to the user as a notice of its own, beside its
  // failure ("CreateEvent Error!"); empty almost always. The Station passes it to its observer.
  virtual std::string LastOpenNotice() const { return {}; }

  // Why the open port stopped being usable by itself (an adapter pulled, the far end hung up), in
  // the system's words; kNone while it has not, and after a stop request. Cleared by OpenComPort.
  const Failure& LossFailure() const { return loss_; }

  // Bytes waiting in the input queue; -1 when the port is not usable.
  virtual int32_t BytesWaiting() = 0;
  // Sleeps until input arrives, the port goes away, or `limit` passes; cheap on the CPU.
  // Returns at once when the port is not usable.
  virtual void WaitForInput(std::chrono::microseconds limit) = 0;

  // The account of the box being served, kept by the framing code that talks through the port.
  LinkTally& Tally() { return tally_; }
  // Bytes read from the port that the framing code has not taken as a message yet: what came
  // behind the last message taken. Emptied with every write, as the port's own input is.
  std::vector<uint8_t>& PendingInput() { return pending_; }

 protected:
  // The port went away: the first reason told is kept.
  void NoteLoss(Failure failure) {
    if (!loss_.Failed()) loss_ = std::move(failure);
  }
  void ClearLoss() { loss_ = {}; }

 private:
  LinkTally tally_;
  Failure loss_;
  std::vector<uint8_t> pending_;
};

}  // namespace vn
