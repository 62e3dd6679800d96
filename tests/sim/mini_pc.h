#pragma once
// A bare PC end for driving the virtual box in tests, and the upgrade-file pieces it sends, built
// in the tests themselves. The PC end is the slave of its pseudo-terminal opened with plain
// termios, keeping the PC's discipline (a message is read only when exactly its size waits, a
// surplus is flushed and lost, every write flushes unread input).
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dld/pack.h"
#include "link/wire_format.h"
#include "sim/virtual_box.h"
#include "support/sample_files.h"

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

struct PackedPartition {
  uint32_t address = 0;
  std::vector<uint8_t> contents;
  std::vector<uint8_t> descriptor;  // 26 bytes
  std::vector<uint8_t> block;       // tag, r + 4, r compressed bytes, CRC
};
PackedPartition Pack(uint32_t address, std::vector<uint8_t> contents);

// Sends a data block the way the PC does (1020-byte payloads, the last frame carrying the rest),
// numbering from `number` on; a frame answered with NAK is sent again. False when an answer
// other than ACK or NAK came, or none.
bool SendBlock(MiniPc& pc, const std::vector<uint8_t>& block, uint8_t& number);

// Sends the header, descriptors and blocks of a download after Connect, expecting ACKs and an
// accepting verdict.
bool SendPartitions(MiniPc& pc, const std::vector<uint8_t>& header,
                    const std::vector<PackedPartition>& partitions);

bool IsCommand(const std::vector<uint8_t>& frame, uint8_t code, uint8_t sub);

}  // namespace vn::testing
