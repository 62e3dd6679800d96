#pragma once
// Sits between a run and its observer: stamps every event with the box it belongs to and that
// box's tallies so far, and warns once a run when the box's answers come back late. Late answers
// cost every frame; the warning says where the delay lies as far as the PC can tell: in the PC
// itself, which wakes late when other programs keep the processor busy, or in the line and the
// box (an adapter that holds received bytes back, a high latency timer).
#include <string>

#include "link/com_port.h"
#include "link/link_observer.h"

namespace vn {

// Answers later than this on average, beyond the line time, are worth a warning: at 10 ms a
// full frame loses about a tenth of the line's rate.
inline constexpr double kSlowAnswerMs = 10.0;
// Answers to average before judging, so that one late answer warns nobody.
inline constexpr int kAnswersBeforeJudging = 16;
// The PC's own wake-ups to average before blaming it or clearing it.
inline constexpr int kWakeupsBeforeJudging = 8;
// A PC whose sleeps end this late on average wakes on time (a quiet one: about 0.1 ms).
inline constexpr double kPromptWakeupMs = 0.5;

// The warning for answers as late as `link` says: blaming the PC when its own wake-ups account
// for half the delay or more, the line and the box when the PC wakes on time, and neither
// otherwise or when the PC has not slept often enough to tell.
std::string SlowAnswerWarning(const LinkCounters& link);

class EventStamp : public LinkObserver {
 public:
  EventStamp(LinkObserver& observer, ComPort& port) : observer_(observer), port_(port) {}

  // The events that follow belong to box `box`.
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
