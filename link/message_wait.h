#pragma once
// The one polling loop under every wait on the box.
//
// A message is taken when its size has come: alone, as the exact-count read takes it, or with
// more behind it when it is well formed (the awaited first byte, and whatever marks its end or
// its length); what follows it stays in the port's pending input for the next wait. Bytes behind
// anything else are dropped whole, as the exact-count read drops a surplus. So two messages the
// box sent close together (a report and the next, an ACK and a verdict) both count even when
// the PC was kept from looking between them.
//
// Between looks the loop sleeps on the port: until input arrives or a slice of at most 50 ms ends
// when nothing is waiting, and about the line time of the missing bytes while a message is
// arriving. So a wait with nothing arriving costs almost no CPU, a stop takes effect within
// 50 ms, and a message is seen soon after its last byte. How late those sleeps end goes to the
// port's tally as the PC's own wake-up delay.
#include <cstdint>

#include "link/com_port.h"

namespace vn {

enum class WaitOutcome {
  kArrived,   // `size` bytes whose first byte passed the test are in the destination
  kTimedOut,  // the budget ran out
  kStopped,   // PortOpened was cleared
};

// A budget without limit: the wait goes on until the message comes or the port is stopped.
inline constexpr int kNoPollLimit = -1;

// Whether a message of the right size starts as the awaited one; others are consumed and dropped.
using FirstByteTest = bool (*)(uint8_t first);
// Whether the first `size` waiting bytes, with more behind them, are one whole awaited message.
// Without it a message is taken only when nothing follows it.
using WholeTest = bool (*)(const uint8_t* message);

// Waits for one message of `size` bytes (1..2048). `polls` is the budget in 1-millisecond polls,
// measured on a monotonic clock, or kNoPollLimit.
WaitOutcome AwaitMessage(ComPort& port, uint8_t* destination, int32_t size, FirstByteTest accept,
                         WholeTest whole, int polls);

// Empties the port's pending input; every write does, since the PC reads only answers to what it
// wrote last.
void DropPendingInput(ComPort& port);

}  // namespace vn
