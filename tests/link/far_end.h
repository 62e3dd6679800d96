#pragma once
// The port under test together with its far end, which a test plays by hand in place of the box:
// either the master side of a real pseudo-terminal or the other end of an in-memory pair.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/com_port.h"

namespace vn::test {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// Generous: only a guard against hangs, never a measure of speed.
inline constexpr std::chrono::milliseconds kHangGuard = 10s;

class FarEnd {
 public:
  virtual ~FarEnd() = default;
  // Sends the bytes to the port in one piece.
  virtual void Send(const Bytes& bytes) = 0;
  // Exactly `count` bytes that the port sent, or nullopt when they did not come within `guard`.
  virtual std::optional<Bytes> Receive(size_t count,
                                       std::chrono::milliseconds guard = kHangGuard) = 0;
  // The far end goes away as an unplugged cable or a closed pseudo-terminal would.
  virtual void Vanish() = 0;
};

struct Rig {
  std::unique_ptr<ComPort> port;  // open and configured
  std::unique_ptr<FarEnd> far;
  std::string slavePath;  // the pseudo-terminal's device; empty for the memory pair
  int slaveFd = -1;       // the rig's own descriptor of that device, for checks
};

// "pty" or "memory".
Rig MakeRig(const std::string& kind);

// True once `condition` holds; false when the guard ran out first.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds guard = kHangGuard);

}  // namespace vn::test
