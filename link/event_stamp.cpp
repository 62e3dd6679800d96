#include "link/event_stamp.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace vn {
namespace {

constexpr std::chrono::milliseconds kProbeSleep{1};

// Sleeps of 1 ms, as a polling loop would take, each timed: how late this PC wakes right now.
// A wait for a one-byte answer ends when the byte comes and tells nothing of that, so a
// download's tally may hold few wake-ups of its own when the answers are judged.
void ProbeWakeups(LinkTally& tally, int count) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kProbeSleep);
    const auto slept = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    tally.WokeLate(std::max(slept - kProbeSleep, std::chrono::microseconds{0}));
  }
}

}  // namespace

std::string SlowAnswerWarning(const LinkCounters& link) {
  const double answerMs = link.MeanAnswerDelayMs();
  const double wakeupMs = link.MeanWakeupDelayMs();
  const bool judged = link.wakeups >= kWakeupsBeforeJudging;
  char text[200];
  if (judged && 2 * wakeupMs >= answerMs) {
    std::snprintf(text, sizeof text,
                  "the box's answers come %.0f ms late on average because this PC wakes %.0f ms "
                  "late itself: other programs keep it busy, which slows every frame",
                  answerMs, wakeupMs);
  } else if (judged && wakeupMs <= kPromptWakeupMs) {
    std::snprintf(text, sizeof text,
                  "the box's answers come %.0f ms late on average although this PC wakes on time "
                  "(%.1f ms late): a serial adapter with a high latency, or a slow box, slows "
                  "every frame",
                  answerMs, wakeupMs);
  } else {
    // Late wake-ups come in bursts that the PC's own sleeps may miss: a PC that wakes late at
    // all may be the cause.
    std::snprintf(text, sizeof text,
                  "the box's answers come %.0f ms late on average, which slows every frame: a busy "
                  "PC or a serial adapter with a high latency can cause it",
                  answerMs);
  }
  return text;
}

void EventStamp::OnEvent(const LinkEvent& event) {
  LinkEvent stamped = event;
  stamped.box = box_;
  stamped.link = port_.Tally().Counters();
  observer_.OnEvent(stamped);
  LinkCounters link = stamped.link;
  if (warned_ || event.kind != EventKind::kBytes || link.answers < kAnswersBeforeJudging ||
      link.MeanAnswerDelayMs() <= kSlowAnswerMs) {
    return;
  }
  warned_ = true;
  LinkTally& tally = port_.Tally();
  ProbeWakeups(tally, kWakeupsBeforeJudging);
  link = tally.Counters();
  LinkEvent warning = StatusEvent(SlowAnswerWarning(link), EventKind::kWarning);
  warning.phase = event.phase;
  warning.box = box_;
  warning.link = link;
  observer_.OnEvent(warning);
}

}  // namespace vn
