#pragma once
// A port whose far end answers every read at once with the next bytes of a script, in exactly the
// size the PC asks for (byte by byte where it takes what is waiting, so that the wait stops at the
// size it awaits), and vanishes when the script runs out. Every wait therefore ends without
// sleeping, and the fuzzer's bytes reach the checks of whatever message the PC awaits.
#include <cstring>
#include <span>

#include "link/com_port.h"

namespace vn {

class ScriptedPort final : public ComPort {
 public:
  explicit ScriptedPort(std::span<const uint8_t> script) : script_(script) {}

  bool OpenComPort(const std::string&) override { return opened_; }
  bool CloseComPort() override {
    opened_ = false;
    return true;
  }
  bool PurgeComPort() override { return true; }
  int32_t ComWrite(const uint8_t*, int32_t count) override { return opened_ ? count : -1; }
  int32_t ComReadExact(uint8_t* destination, int32_t count) override {
    if (!opened_ || count < 0 || count > kMaxTransfer) return -1;
    if (script_.size() < size_t(count)) {
      opened_ = false;  // the box has nothing more to say: a pulled cable
      return -1;
    }
    std::memcpy(destination, script_.data(), size_t(count));
    script_ = script_.subspan(size_t(count));
    return count;
  }
  int32_t ComReadSome(uint8_t* destination, int32_t max) override {
    if (!opened_ || max < 0 || max > kMaxTransfer) return -1;
    if (max == 0) return 0;
    return ComReadExact(destination, 1);
  }
  bool PortOpened() const override { return opened_; }
  void RequestStop() override { opened_ = false; }
  int32_t BytesWaiting() override { return opened_ ? int32_t(script_.size()) : -1; }
  void WaitForInput(std::chrono::microseconds) override {}

 private:
  std::span<const uint8_t> script_;
  bool opened_ = true;
};

}  // namespace vn
