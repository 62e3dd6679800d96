#pragma once
// Two connected in-memory ports, for tests: bytes written to one end become the input of the
// other, with the same exact-count reads, input flushing, limits and stop rules as the system
// port. Either end may be used from its own thread.
//
// An end that is closed (or destroyed) looks to the other like a pseudo-terminal whose other side
// went away: a wait on the other end notices it and clears that end's PortOpened, and writing to
// it fails.
#include <memory>
#include <utility>

#include "link/com_port.h"

namespace vn {

class MemoryPort final : public ComPort {
 public:
  // Both ends start open.
  static std::pair<std::unique_ptr<MemoryPort>, std::unique_ptr<MemoryPort>> MakePair();
  ~MemoryPort() override;

  // The name is ignored; reopening an end empties its input.
  bool OpenComPort(const std::string& name) override;
  bool CloseComPort() override;
  bool PurgeComPort() override;
  int32_t ComWrite(const uint8_t* data, int32_t count) override;
  int32_t ComReadExact(uint8_t* destination, int32_t count) override;
  int32_t ComReadSome(uint8_t* destination, int32_t max) override;
  bool PortOpened() const override;
  void RequestStop() override;
  int32_t BytesWaiting() override;
  void WaitForInput(std::chrono::microseconds limit) override;

  // For an end that plays the box, like the master side of a pseudo-terminal: writes without
  // flushing this end's input; the byte count, or -1 when this end is not usable.
  int32_t WriteRaw(const uint8_t* data, int32_t count);

  // The next `count` ComWrite calls fail with -1 (after flushing input, as a real failure does)
  // and deliver nothing.
  void FailNextWrites(int count);

 private:
  struct Line;
  MemoryPort(std::shared_ptr<Line> line, int side);

  std::shared_ptr<Line> line_;
  int side_;
};

}  // namespace vn
