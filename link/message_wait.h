#pragma once
// The one polling loop under every wait on the box.
//
// A message counts only when exactly its size is waiting (the port's exact-count read). Between
// looks the loop sleeps on the port: until input arrives or a slice of at most 50 ms ends when
// nothing is waiting, and about the line time of the missing bytes while a message is arriving.
// So a wait with nothing arriving costs almost no CPU, a stop takes effect within 50 ms, and a
// message is seen soon after its last byte.
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

// Waits for one message of exactly `size` bytes (1..2048). `polls` is the budget in 1-millisecond
// polls, measured on a monotonic clock, or kNoPollLimit.
WaitOutcome AwaitMessage(ComPort& port, uint8_t* destination, int32_t size, FirstByteTest accept,
                         int polls);

}  // namespace vn
