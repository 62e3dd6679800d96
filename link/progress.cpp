#include "link/progress.h"

namespace vn {

void Progress::ProgressReset() {
  position_ = 0;
  Report();
}

void Progress::ProgressStep(int maximum, int step) {
  maximum_ = maximum > 0 ? maximum : 0;
  if (position_ > maximum_) position_ = maximum_;
  position_ += step;
  if (position_ > maximum_) {
    // A step past the end wraps around to the start of the range, as the window's bar does.
    position_ = maximum_ > 0 ? (position_ - maximum_ - 1) % maximum_ + 1 : 0;
  }
  Report();
}

void Progress::Report() {
  LinkEvent event;
  event.kind = EventKind::kBar;
  event.part = position_;
  event.count = maximum_;
  observer_.OnEvent(event);
}

}  // namespace vn
