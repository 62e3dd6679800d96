#pragma once
// The box's end of a pseudo-terminal. The box writes to and reads from the master; it also keeps
// a slave descriptor of its own, set raw at once, so that nothing is ever echoed, the line
// settings survive the PC closing and reopening its end, and the box can ask how much of what it
// sent the PC has not read yet. The box never reads from that slave descriptor: what waits there
// belongs to the PC.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vn {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Creates the pair and sets the line raw; false with `error` filled on failure.
  bool Open(std::string& error);
  // Closes both ends; the PC then sees the port vanish. Idempotent.
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }

  // Bytes the box sent that the PC has not read yet; -1 when the line is closed.
  int Unread() const;
  // Drops whatever the PC has not read.
  void FlushUnread();

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
