#pragma once
// Records what an operation reports, for the tests to compare with what the window would show:
// the status texts as the status line shows them, and the events themselves.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_observer.h"

namespace vn::testing {

class RecordingObserver : public LinkObserver {
 public:
  void OnEvent(const LinkEvent& event) override {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
      if (event.kind == EventKind::kBar) progress_.push_back({event.part, event.count});
      if (event.kind == EventKind::kBusy) controlsEnabled_ = false;
      if (event.kind == EventKind::kIdle) controlsEnabled_ = true;
      if (!event.HasStatusText()) return;
      statuses_.push_back(event.text);
      hook = onStatus_;
    }
    if (hook) hook(event.text);
  }
  void OnErrorBox(const std::string& text) override {
    std::lock_guard lock(mutex_);
    errorBoxes_.push_back(text);
  }
  void OnDetail(const std::string& text) override {
    std::lock_guard lock(mutex_);
    details_.push_back(text);
  }
  void OnBoxEnd(const BoxOutcome& outcome) override {
    std::lock_guard lock(mutex_);
    outcomes_.push_back(outcome);
  }

  // Runs on the operation's thread after each status text (e.g. to stop at a given step).
  void SetStatusHook(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(mutex_);
    onStatus_ = std::move(hook);
  }

  // Forgets the texts so far, for a test that runs several operations.
  void Clear() {
    std::lock_guard lock(mutex_);
    statuses_.clear();
    details_.clear();
    events_.clear();
    outcomes_.clear();
  }

  std::vector<std::string> Statuses() const { return Copy(statuses_); }
  std::vector<LinkEvent> Events() const { return Copy(events_); }
  std::vector<std::pair<int, int>> Progress() const { return Copy(progress_); }
  std::vector<std::string> ErrorBoxes() const { return Copy(errorBoxes_); }
  std::vector<std::string> Details() const { return Copy(details_); }
  std::vector<BoxOutcome> Outcomes() const { return Copy(outcomes_); }
  bool ControlsEnabled() const { return Copy(controlsEnabled_); }

 private:
  template <typename T>
  T Copy(const T& member) const {
    std::lock_guard lock(mutex_);
    return member;
  }

  mutable std::mutex mutex_;
  std::vector<std::string> details_;
  std::vector<std::string> statuses_;
  std::vector<LinkEvent> events_;
  std::vector<BoxOutcome> outcomes_;
  std::vector<std::pair<int, int>> progress_;
  std::vector<std::string> errorBoxes_;
  bool controlsEnabled_ = true;
  std::function<void(const std::string&)> onStatus_;
};

}  // namespace vn::testing
