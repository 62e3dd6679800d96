#pragma once
// The form model with a view that a test drives: its dialogs answered by the test, every state it
// was shown kept, and what the worker posts run only when the test pumps.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "form/form_model.h"

namespace vn::testing {

class ScriptedView : public FormView {
 public:
  std::optional<std::string> downloadAnswer;  // the open dialog's file; nullopt = Cancel
  std::optional<std::string> uploadAnswer;    // the save dialog's file; nullopt = Cancel
  bool overwriteAnswer = false;
  int overwriteQuestions = 0;
  std::vector<std::string> boxes;  // error boxes and notices
  int processEnds = 0;
  std::vector<FormState> shown;  // every state, in order

  // The status texts shown, in order, each change once.
  std::vector<std::string> Statuses() const {
    std::vector<std::string> texts;
    for (const FormState& state : shown) {
      if (texts.empty() || texts.back() != state.status) texts.push_back(state.status);
    }
    return texts;
  }

  // Runs what was posted so far.
  void Pump() {
    PumpUntil([] { return false; }, {});
  }
  // Runs what is posted until `done` holds; false if it does not within `limit` (a hang guard).
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      std::unique_lock lock(mutex_);
      if (!arrived_.wait_until(lock, end, [this] { return !posted_.empty(); })) return false;
      const auto task = std::move(posted_.front());
      posted_.pop_front();
      lock.unlock();
      task();
    }
    return true;
  }

  void Show(const FormState& state) override { shown.push_back(state); }
  std::optional<std::string> ChooseDownloadFile() override { return downloadAnswer; }
  std::optional<std::string> ChooseUploadFile() override { return uploadAnswer; }
  bool ConfirmOverwrite() override {
    ++overwriteQuestions;
    return overwriteAnswer;
  }
  void ShowErrorBox(const std::string& text) override { boxes.push_back(text); }
  void ShowNotice(const std::string& text) override { boxes.push_back(text); }
  void EndProcess() override { ++processEnds; }
  void PostToUiThread(std::function<void()> task) override {
    const std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
    arrived_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> posted_;
};

// The form on `port`, shown once as a view shows it when built.
struct FormRig {
  explicit FormRig(std::unique_ptr<ComPort> port, const std::string& programDir,
                   PortEntrySource ports)
      : model(std::make_unique<FormModel>(view, std::move(port), programDir, std::move(ports))),
        startUp(model->State()) {
    view.Show(model->State());
  }

  const FormState& State() const { return model->State(); }
  // The view was shown what the model holds.
  void ExpectShownUpToDate() const { EXPECT_EQ(view.shown.back(), model->State()); }
  // As after start-up, and shown so; but for the port list, which follows the system, and the
  // bar's maximum, which means nothing on an empty bar.
  void ExpectAsStarted() const {
    FormState expected = startUp;
    expected.ports = State().ports;
    expected.progressMaximum = State().progressMaximum;
    EXPECT_EQ(State(), expected);
    ExpectShownUpToDate();
  }

  ScriptedView view;
  std::unique_ptr<FormModel> model;
  const FormState startUp;
};

}  // namespace vn::testing
