#pragma once
// Records what an operation reports, for the tests to compare with what the window would show.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_observer.h"

namespace vn::testing {

class RecordingObserver : public LinkObserver {
 public:
  void OnStatus(const std::string& text) override {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard lock(mutex_);
      statuses_.push_back(text);
      hook = onStatus_;
    }
    if (hook) hook(text);
  }
  void OnProgress(int position, int maximum) override {
    std::lock_guard lock(mutex_);
    progress_.push_back({position, maximum});
  }
  void OnControlsEnabled(bool enabled) override {
    std::lock_guard lock(mutex_);
    controlsEnabled_ = enabled;
  }
  void OnErrorBox(const std::string& text) override {
    std::lock_guard lock(mutex_);
    errorBoxes_.push_back(text);
  }
  void OnDetail(const std::string& text) override {
    std::lock_guard lock(mutex_);
    details_.push_back(text);
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
  }

  std::vector<std::string> Statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::vector<std::pair<int, int>> Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
  }
  std::vector<std::string> ErrorBoxes() const {
    std::lock_guard lock(mutex_);
    return errorBoxes_;
  }
  std::vector<std::string> Details() const {
    std::lock_guard lock(mutex_);
    return details_;
  }
  bool ControlsEnabled() const {
    std::lock_guard lock(mutex_);
    return controlsEnabled_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> details_;
  std::vector<std::string> statuses_;
  std::vector<std::pair<int, int>> progress_;
  std::vector<std::string> errorBoxes_;
  bool controlsEnabled_ = true;
  std::function<void(const std::string&)> onStatus_;
};

}  // namespace vn::testing
