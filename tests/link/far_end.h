#pragma once
// The port under test together with its far end, which a test plays by hand in place of the box:
// either the master side of a real pseudo-terminal or the other end of an in-memory pair.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/com_port.h"

namespace vn::testing {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The parts one after another.
inline Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

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
  // False where the far end cannot take the line away (two joined COM ports).
  virtual bool CanVanish() const { return true; }
};

// The port under test, counting the bytes it has read, so that a scripted box can wait until
// the PC has taken one message before it sends the next.
class CountingPort final : public ComPort {
 public:
  explicit CountingPort(std::unique_ptr<ComPort> inner) : inner_(std::move(inner)) {}
  bool OpenComPort(const std::string& name) override { return inner_->OpenComPort(name); }
  bool CloseComPort() override { return inner_->CloseComPort(); }
  bool PurgeComPort() override { return inner_->PurgeComPort(); }
  int32_t ComWrite(const uint8_t* data, int32_t count) override {
    return inner_->ComWrite(data, count);
  }
  int32_t ComReadExact(uint8_t* destination, int32_t count) override {
    return Counted(inner_->ComReadExact(destination, count));
  }
  int32_t ComReadSome(uint8_t* destination, int32_t max) override {
    return Counted(inner_->ComReadSome(destination, max));
  }
  bool PortOpened() const override { return inner_->PortOpened(); }
  void RequestStop() override { inner_->RequestStop(); }
  Failure LastOpenFailure() const override { return inner_->LastOpenFailure(); }
  Failure LossFailure() const override { return inner_->LossFailure(); }
  int32_t BytesWaiting() override { return inner_->BytesWaiting(); }
  void WaitForInput(std::chrono::microseconds limit) override { inner_->WaitForInput(limit); }

  int64_t BytesRead() const { return bytesRead_; }

 private:
  int32_t Counted(int32_t result) {
    if (result > 0) bytesRead_ += result;
    return result;
  }
  std::unique_ptr<ComPort> inner_;
  std::atomic<int64_t> bytesRead_{0};
};

struct Rig {
  std::unique_ptr<CountingPort> port;  // open and configured
  std::unique_ptr<FarEnd> far;
  std::string slavePath;  // the pseudo-terminal's device; empty for the memory pair
  int slaveFd = -1;       // the rig's own descriptor of that device, for checks
};

// The system's own port with a far end on the other side of a real line: a pseudo-terminal on
// POSIX; on Windows two COM ports joined outside the test (see far_end_win32.cpp). The rig is
// empty when the system offers no such line.
Rig MakeSystemRig();

// kSystemRig or "memory".
Rig MakeRig(const std::string& kind);

#ifdef _WIN32
inline constexpr const char* kSystemRig = "com";
#else
inline constexpr const char* kSystemRig = "pty";
#endif

// Exactly `count` bytes within `guard`, or nullopt: `readSome` takes what waits, up to its limit
// (0 when nothing does, negative when the line failed), and `wait` waits a moment for more.
std::optional<Bytes> ReceiveWithin(size_t count, std::chrono::milliseconds guard,
                                   const std::function<int64_t(uint8_t*, size_t)>& readSome,
                                   const std::function<void()>& wait);

// True once `condition` holds; false when the guard ran out first.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds guard = kHangGuard);

// A test that runs once over the system rig and once over the in-memory pair.
class RigTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    rig_ = MakeRig(GetParam());
    // Under Wine the COM line needs a port mapped to a pseudo-terminal and may be missing; a
    // pseudo-terminal on Linux is always there, and failing to make one is a fault.
    if (!rig_.port && GetParam() == std::string("com")) GTEST_SKIP() << "no line to test on";
    ASSERT_TRUE(rig_.port && rig_.port->PortOpened());
  }
  ComPort& port() { return *rig_.port; }
  FarEnd& box() { return *rig_.far; }
  bool WaitForWaiting(int32_t count) {
    return WaitUntil([&] { return port().BytesWaiting() == count; });
  }
  // Sends `bytes` and returns once the PC has read them (or a hang guard ran out).
  void SendAndAwaitRead(const Bytes& bytes) {
    const int64_t until = rig_.port->BytesRead() + int64_t(bytes.size());
    box().Send(bytes);
    WaitUntil([&] { return rig_.port->BytesRead() >= until || !rig_.port->PortOpened(); });
  }

  Rig rig_;
};

#define VN_INSTANTIATE_OVER_RIGS(suite) \
  INSTANTIATE_TEST_SUITE_P(Rigs, suite, ::testing::Values(kSystemRig, "memory"))

}  // namespace vn::testing
