#include "link/outcome_keeper.h"

#include <cstdio>

#include "link/link_message.h"

namespace vn {
namespace {

// A failure shown with nothing noted about it: what its status text says happened.
BoxFailureKind KindOfMessage(int message) {
  switch (message) {
    case kMsgIdentFailed:
      return BoxFailureKind::kIdentityRefused;
    case kMsgEraseFailed:
      return BoxFailureKind::kEraseFailed;
    case kMsgProgramFailed:
      return BoxFailureKind::kProgramFailed;
    default:
      return BoxFailureKind::kUnexpectedAnswer;
  }
}

}  // namespace

std::string StallWords(std::chrono::milliseconds limit) {
  char text[96];
  std::snprintf(text, sizeof text, "the box made no progress for %g s (the stall limit)",
                double(limit.count()) / 1000.0);
  return text;
}

void OutcomeKeeper::StartBox(int box) {
  outcome_ = BoxOutcome{};
  outcome_.box = box;
  outcome_.start = std::chrono::system_clock::now();
  started_ = std::chrono::steady_clock::now();
  note_.clear();
}

void OutcomeKeeper::Judge(int message, BoxFailureKind& kind, Failure& failure) const {
  const LinkTally& tally = port_.Tally();
  failure = {};
  if (stopRequested_) {
    kind = BoxFailureKind::kStopped;
    failure = FailureSaying(FailureKind::kStopped, "stopped before the box was done");
  } else if (!port_.PortOpened()) {
    kind = BoxFailureKind::kPortLost;
    failure = port_.LossFailure();
    failure.kind = FailureKind::kNotFound;
  } else if (tally.Stalled()) {
    kind = BoxFailureKind::kStalled;
    failure = FailureSaying(FailureKind::kOther, StallWords(tally.StallLimit()));
  } else if (tally.LastFault() != BoxFailureKind::kNone) {
    kind = tally.LastFault();
    failure = tally.LastFaultFailure();
  } else {
    kind = KindOfMessage(message);
  }
}

void OutcomeKeeper::OnEvent(const LinkEvent& event) {
  if (event.phase != Phase::kNone) outcome_.phase = event.phase;
  if (event.kind != EventKind::kFailure) {
    observer_.OnEvent(event);
    return;
  }
  LinkEvent judged = event;
  // A task that judged the box itself (a verify's differing region) says so on its failure.
  if (event.failureKind == BoxFailureKind::kNone) {
    Judge(event.message, judged.failureKind, judged.failure);
  }
  // The first failure is the box's: what follows it (a refusal sent to the box) is its echo.
  if (outcome_.failureKind == BoxFailureKind::kNone) {
    outcome_.failureKind = judged.failureKind;
    outcome_.failure = judged.failure;
    outcome_.statusText = judged.text;
  }
  observer_.OnEvent(judged);
}

void OutcomeKeeper::OnDetail(const std::string& text) {
  if (note_.empty()) note_ = text;
  observer_.OnDetail(text);
}

BoxOutcome OutcomeKeeper::EndBox(BoxResult result) {
  BoxOutcome outcome = outcome_;
  outcome.result = result;
  outcome.end = std::chrono::system_clock::now();
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  outcome.link = port_.Tally().Counters();
  if (result == BoxResult::kSuccess) {
    outcome.failureKind = BoxFailureKind::kNone;
    outcome.failure = {};
    outcome.statusText.clear();
  } else if (result == BoxResult::kStopped) {
    // What cut the box short comes first: the status text of a stopped box only tells where the
    // stop found it.
    outcome.failureKind = BoxFailureKind::kStopped;
    outcome.failure = FailureSaying(FailureKind::kStopped, "stopped before the box was done");
    outcome.statusText.clear();
  } else if (outcome.failureKind == BoxFailureKind::kNone) {
    Judge(-1, outcome.failureKind, outcome.failure);
  }
  if (!outcome.Succeeded() && outcome.failure.detail.empty()) outcome.failure.detail = note_;
  observer_.OnBoxEnd(outcome);
  return outcome;
}

}  // namespace vn
