#pragma once
// The one place that decides how a box ended. It sits between a run and its observer: every
// failure event leaves it with its kind and the system's words filled in, from what the framing
// and the transfers noted in the port's tally, the port's state and the stop request, and at the
// box's end it fills in the BoxOutcome and hands it on.
#include <atomic>
#include <chrono>
#include <string>

#include "link/box_outcome.h"
#include "link/com_port.h"
#include "link/link_observer.h"

namespace vn {

class OutcomeKeeper : public LinkObserver {
 public:
  // `stopRequested` is the driver's flag: a box failing once a stop was asked for was cut short.
  OutcomeKeeper(LinkObserver& observer, ComPort& port, const std::atomic<bool>& stopRequested)
      : observer_(observer), port_(port), stopRequested_(stopRequested) {}

  // A new box: what was kept of the last one is forgotten.
  void StartBox(int box);
  // The box ended with `result`: its outcome, also handed to the observer.
  BoxOutcome EndBox(BoxResult result);

  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override { observer_.OnErrorBox(text); }
  void OnDetail(const std::string& text) override;

 private:
  // Why the box is failing, as far as is known now; `message` is the failed status text's index.
  void Judge(int message, BoxFailureKind& kind, Failure& failure) const;

  LinkObserver& observer_;
  ComPort& port_;
  const std::atomic<bool>& stopRequested_;
  BoxOutcome outcome_;
  std::chrono::steady_clock::time_point started_{};
  std::string note_;  // the first detail told about the box
};

// The words of a stall: "the box made no progress for 5 s (the stall limit)".
std::string StallWords(std::chrono::milliseconds limit);

}  // namespace vn
