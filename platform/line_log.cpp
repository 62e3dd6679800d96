#include "platform/line_log.h"

#include <cstdio>

#include "platform/append_line.h"

namespace vn {

LineLog::LineLog(std::string path, std::function<void(const std::string&)> onFailure)
    : path_(std::move(path)), onFailure_(std::move(onFailure)), thread_([this] { Run(); }) {}

LineLog::~LineLog() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  thread_.join();
  if (lost_ > 0 && !reported_ && onFailure_) {
    onFailure_(std::to_string(lost_) + " line(s) lost: the output did not keep up");
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

void LineLog::Fail(const std::string& why) {
  bool report = false;
  {
    const std::lock_guard lock(mutex_);
    report = !reported_;
    reported_ = true;
  }
  failed_ = true;
  if (report && onFailure_) onFailure_(why);
}

bool LineLog::WriteOut(const std::deque<std::string>& lines, std::string& why) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  text.pop_back();  // the last newline comes with the append
  if (path_ != "-") {
    Failure failure;
    if (AppendWholeLine(path_, text, failure)) return true;
    why = failure.systemMessage.empty() ? FailureText(failure) : failure.systemMessage;
    return false;
  }
  text += "\n";
  if (std::fwrite(text.data(), 1, text.size(), stderr) != text.size() || std::fflush(stderr) != 0) {
    why = "standard error cannot be written";
    return false;
  }
  return true;
}

void LineLog::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, and everything written
    std::deque<std::string> lines;
    lines.swap(queue_);
    lock.unlock();
    std::string why;
    if (!failed_ && !WriteOut(lines, why)) Fail(why);
    lock.lock();
  }
}

}  // namespace vn
