#pragma once
// The box's end of a pseudo-terminal. The box writes to and reads from the master, as it is: like
// a box on a real cable it never touches the line's settings, so the line is whatever the PC made
// of it (a fresh pseudo-terminal is cooked: it echoes, maps CR/NL and eats XON/XOFF until the PC
// sets it up). It also keeps a slave descriptor of its own, like a cable that stays plugged in,
// so the line outlives the PC closing and reopening its end. The box never reads from that slave
// descriptor and never flushes it: what waits there belongs to the PC.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/failure.h"

namespace vn {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Creates the pair, leaving the line's settings as the system made them; false with `failure`
  // filled, in the system's words, when the system refuses.
  bool Open(Failure& failure);
  // Closes both ends; the PC then sees the port vanish. Idempotent.
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }

  // Bytes the box sent that the PC has not read yet, those still on their way through the
  // pseudo-terminal included; -1 when the line is closed. Only for the end of the box's life: a
  // real box powering off does not take back what is on the wire.
  int Unread() const;

  // Writes all bytes unless the line breaks or `giveUp` returns true while the PC's queue is full.
  template <typename GiveUp>
  bool WriteAll(const uint8_t* data, size_t count, GiveUp giveUp) {
    while (count > 0) {
      const long written = WriteSome(data, count);
      if (written < 0) return false;
      if (written == 0 && giveUp()) return false;
      data += written;
      count -= size_t(written);
    }
    return true;
  }

  // Waits up to `limit` for bytes from the PC, then reads what is there: the count read, 0 when
  // nothing came, -1 when the line is broken.
  long ReadSome(uint8_t* destination, size_t capacity, std::chrono::milliseconds limit);

 private:
  // Writes what the line takes now (waiting briefly when it is full); -1 when broken.
  long WriteSome(const uint8_t* data, size_t count);

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace vn
