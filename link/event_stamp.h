#pragma once
// Sits between a run and its observer: stamps every event with the box it belongs to and that
// box's tallies so far, and warns once a run when the box's answers come back late, as they do
// through an adapter that holds received bytes back (a high latency timer), which costs every
// frame that much.
#include "link/com_port.h"
#include "link/link_observer.h"

namespace vn {

// Answers later than this on average, beyond the line time, are worth a warning: at 10 ms a
// full frame loses about a tenth of the line's rate.
inline constexpr double kSlowAnswerMs = 10.0;
// Answers to average before judging, so that one late answer warns nobody.
inline constexpr int kAnswersBeforeJudging = 16;

class EventStamp : public LinkObserver {
 public:
  EventStamp(LinkObserver& observer, ComPort& port) : observer_(observer), port_(port) {}

  void StartBox(int box) { box_ = box; }

  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override { observer_.OnErrorBox(text); }
  void OnDetail(const std::string& text) override { observer_.OnDetail(text); }

 private:
  LinkObserver& observer_;
  ComPort& port_;
  int box_ = 0;
  bool warned_ = false;
};

}  // namespace vn
