#pragma once
// The virtual box: the box's side of the serial protocol, served over the master end of a
// pseudo-terminal so that the PC side can open the slave path like any serial port. It holds a
// 2 MiB flash image at 0x40000000 and an identity, judges downloaded headers, checks, expands
// and "programs" partitions, answers read requests from its image, and can inject faults.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/box_options.h"

namespace vn {

class VirtualBox {
 public:
  explicit VirtualBox(BoxOptions options = {});
  ~VirtualBox();  // Stop()
  VirtualBox(const VirtualBox&) = delete;
  VirtualBox& operator=(const VirtualBox&) = delete;

  // Creates the pseudo-terminal and starts serving on its own thread; false on failure (see
  // Stats().lastError).
  bool Start();
  // The slave path the PC opens (/dev/pts/N); empty before Start.
  const std::string& PtyPath() const;
  // Ends the thread and closes the pseudo-terminal; idempotent.
  void Stop();
  // True once `count` operations (downloads and uploads) have completed.
  bool WaitSessions(int count, std::chrono::milliseconds timeout);
  // True while the serving thread runs (false after Stop, a vanish, or the last session).
  bool Running() const;
  // Thread-safe snapshot of the 2 MiB image.
  std::vector<uint8_t> FlashCopy() const;
  BoxStats Stats() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string ptyPath_;
};

}  // namespace vn
