#include "platform/line_log.h"

#include <chrono>
#include <optional>

#include "platform/append_line.h"
#include "platform/console.h"

namespace vn {

LineLog::LineLog(std::string path, std::function<void(const Failure&)> onFailure)
    : path_(std::move(path)), onFailure_(std::move(onFailure)), thread_([this] { Run(); }) {}

LineLog::~LineLog() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  thread_.join();
  if (lost_ > 0 && !reported_ && onFailure_) {
    onFailure_(FailureSaying(FailureKind::kOther,
                             std::to_string(lost_) + " line(s) lost: the output did not keep up"));
  }
}

void LineLog::Add(std::string line) {
  {
    const std::lock_guard lock(mutex_);
    if (queue_.size() >= kQueueLimit) {
      ++lost_;
      return;
    }
    queue_.push_back(std::move(line));
  }
  wake_.notify_one();
}

void LineLog::Fail(const Failure& failure) {
  bool report = false;
  {
    const std::lock_guard lock(mutex_);
    report = !reported_;
    reported_ = true;
  }
  failed_ = true;
  if (report && onFailure_) onFailure_(failure);
}

bool LineLog::WriteOut(const std::deque<std::string>& lines, Failure& failure) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  text.pop_back();  // the last newline comes with the append
  if (path_ != "-") return AppendWholeLine(path_, text, failure);
  text += "\n";
  // A reader that stopped reading gets a second more once the log closes; then the lines go.
  std::optional<std::chrono::steady_clock::time_point> closedAt;
  const auto giveUp = [this, &closedAt] {
    if (!closing_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!closedAt) closedAt = now;
    return now - *closedAt > std::chrono::seconds(1);
  };
  if (!WriteStandardError(text, giveUp)) {
    failure = FailureSaying(FailureKind::kOther, "standard error cannot be written");
    return false;
  }
  return true;
}

void LineLog::Run() {
  // A trace starts before the program takes its stop requests.
  KeepStopRequestsOffThisThread();
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, and everything written
    std::deque<std::string> lines;
    lines.swap(queue_);
    lock.unlock();
    Failure failure;
    if (!failed_ && !WriteOut(lines, failure)) Fail(failure);
    lock.lock();
  }
}

}  // namespace vn
