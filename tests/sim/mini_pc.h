#pragma once
// A bare PC end for driving the virtual box in tests: the slave of its pseudo-terminal opened
// with plain termios, keeping the PC's discipline (a message is read only when exactly its size
// waits, a surplus is flushed and lost, every write flushes unread input).
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/wire_format.h"

namespace vn::testing {

enum class PcRead { kOk, kTimeout, kVanished };

class MiniPc {
 public:
  explicit MiniPc(const std::string& path);
  ~MiniPc();
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  bool Write(std::span<const uint8_t> bytes);
  bool WriteByte(uint8_t byte) { return Write(std::span(&byte, 1)); }
  bool WriteCommand(uint8_t code, uint8_t sub = 0) { return Write(MakeCommandFrame(code, sub)); }

  // Exactly `count` bytes within `timeout` (a hang guard).
  PcRead Read(size_t count, std::vector<uint8_t>& message,
              std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The message, or an empty vector when it did not come.
  std::vector<uint8_t> Read(size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the box's ready frame and asks for an operation (0x0A download, 0x09 upload).
  bool Connect(uint8_t startCode);

 private:
  int fd_ = -1;
};

}  // namespace vn::testing
