#pragma once
// How fast a box's transfer phase moves bytes against the line's limit, read from the run's
// events: the line time of what crossed the line (both ways) over the phase's wall time. 1.0 is
// a line never idle; frames that waited on slow answers, resends and time-outs bring it down.
#include <chrono>
#include <cstdint>

#include "link/link_event.h"

namespace vn {

class TransferMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // Every event of the run, in order; a new box starts a new measurement.
  void OnEvent(const LinkEvent& event, Clock::time_point now = Clock::now());

  // 0 until the transfer has moved bytes for a while.
  double LineShare() const;
  // Seconds the transfer phase has taken so far.
  double Seconds() const;

 private:
  int box_ = -1;
  bool started_ = false;
  Clock::time_point start_{};
  Clock::time_point last_{};
  int64_t startBytes_ = 0;
  int64_t lastBytes_ = 0;
};

}  // namespace vn
