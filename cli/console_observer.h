#pragma once
// Shows the operation's status texts on standard output, one per line, exactly as the window's
// status line shows them. On a terminal the percentage lines give way to one progress line with
// phase, percent, bytes, rate and time left; a pipe or a file always gets the plain lines.
#include <chrono>
#include <cstdio>
#include <string>

#include "link/link_observer.h"

namespace vn {

class ConsoleObserver : public LinkObserver {
 public:
  ConsoleObserver(std::FILE* out, bool interactive);
  ~ConsoleObserver() override;

  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override;
  void OnDetail(const std::string& text) override;

  const std::string& LastStatus() const { return last_; }

 private:
  void ShowPercent(const LinkEvent& event);
  void DrawProgressLine();
  void EndProgressLine();

  std::FILE* out_;
  bool interactive_;
  bool progressShown_ = false;
  std::string last_;
  Phase phase_ = Phase::kNone;  // the phase of the percentages while a bar is shown
  int percent_ = 0;
  int64_t bytesDone_ = 0;
  int64_t bytesTotal_ = 0;
  std::chrono::steady_clock::time_point phaseStart_{};
};

}  // namespace vn
