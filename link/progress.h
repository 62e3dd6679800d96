#pragma once
// The progress bar as the transfers drive it: range 0..N, stepped once per partition in each
// phase. Stepping past the maximum starts the bar over, so it fills once per phase.
#include "link/link_observer.h"

namespace vn {

class Progress {
 public:
  explicit Progress(LinkObserver& observer) : observer_(observer) {}

  // Position 0.
  void ProgressReset();
  // Range 0..maximum with `step`, then one step.
  void ProgressStep(int maximum, int step);

 private:
  void Report();

  LinkObserver& observer_;
  int position_ = 0;
  int maximum_ = 100;
};

}  // namespace vn
