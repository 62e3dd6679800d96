#include "link/event_stamp.h"

#include <cstdio>

namespace vn {

void EventStamp::OnEvent(const LinkEvent& event) {
  LinkEvent stamped = event;
  stamped.box = box_;
  stamped.link = port_.Tally().Counters();
  observer_.OnEvent(stamped);
  const LinkCounters& link = stamped.link;
  if (warned_ || event.kind != EventKind::kBytes || link.answers < kAnswersBeforeJudging ||
      link.MeanAnswerDelayMs() <= kSlowAnswerMs) {
    return;
  }
  warned_ = true;
  char text[160];
  std::snprintf(text, sizeof text,
                "the box's answers come %.0f ms late on average; a serial adapter with a high "
                "latency slows every frame",
                link.MeanAnswerDelayMs());
  LinkEvent warning = StatusEvent(text, EventKind::kWarning);
  warning.phase = event.phase;
  warning.box = box_;
  warning.link = link;
  observer_.OnEvent(warning);
}

}  // namespace vn
