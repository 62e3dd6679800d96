#pragma once
// Cutting the transfer phase out of an operation, from the events the operation reports: its wall
// time, the CPU spent meanwhile and the gaps between data frames. The observer runs on the thread
// that runs the transfer, so that thread's CPU is the PC side's.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "link/link_message.h"
#include "link/link_observer.h"

namespace vn {

struct CpuTimes {
  double thread = 0;   // the thread running the transfer: the PC side
  double process = 0;  // every thread, a virtual box's in the same process included
};

inline double SecondsOf(const timeval& t) {
  return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// User and system time of the calling thread and of the whole process.
inline CpuTimes CpuNow() {
  rusage self{};
  rusage thread{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_THREAD, &thread);
  return {SecondsOf(thread.ru_utime) + SecondsOf(thread.ru_stime),
          SecondsOf(self.ru_utime) + SecondsOf(self.ru_stime)};
}

class PhaseClock : public LinkObserver {
 public:
  using Clock = std::chrono::steady_clock;
  using Seconds = std::chrono::duration<double>;

  void OnEvent(const LinkEvent& event) override {
    if (event.HasStatusText()) last_ = event.text;
    if (event.kind == EventKind::kBytes) {
      // Once per data frame, in both directions: the time between two frames of one data block
      // is one frame and its ACK on the line.
      const Clock::time_point now = Clock::now();
      if (lastFrame_) frameGaps_.push_back(Seconds(now - *lastFrame_).count());
      lastFrame_ = now;
    } else if (event.kind == EventKind::kPercent && event.phase == Phase::kTransfer) {
      lastFrame_.reset();  // the next frame follows a descriptor: no frame-to-frame gap
    } else if (event.message == kMsgTransfer) {
      start_ = Clock::now();
      cpuStart_ = CpuNow();
    } else if (event.message == kMsgTransferSuccess) {
      end_ = Clock::now();
      cpuEnd_ = CpuNow();
      succeeded_ = true;
    }
  }

  bool Succeeded() const { return succeeded_; }
  const std::string& LastStatus() const { return last_; }
  double WallSeconds() const { return Seconds(end_ - start_).count(); }
  CpuTimes Cpu() const {
    return {cpuEnd_.thread - cpuStart_.thread, cpuEnd_.process - cpuStart_.process};
  }
  double MedianFrameGap() {
    if (frameGaps_.empty()) return 0;
    auto middle = frameGaps_.begin() + frameGaps_.size() / 2;
    std::nth_element(frameGaps_.begin(), middle, frameGaps_.end());
    return *middle;
  }

 private:
  std::string last_;
  Clock::time_point start_{}, end_{};
  CpuTimes cpuStart_{}, cpuEnd_{};
  bool succeeded_ = false;
  std::optional<Clock::time_point> lastFrame_;
  std::vector<double> frameGaps_;
};

}  // namespace vn
