#pragma once
// A log that never holds up the threads that add to it: lines go into a queue, and a thread of the
// log's own writes them out, to a file through AppendWholeLine (regular files only, opened without
// waiting, whole lines under the file's lock) or to standard error (WriteStandardError). A file
// that cannot be written, or a reader of standard error that stops reading, costs lines, never a
// caller's time, and never holds up a stop.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/failure.h"

namespace vn {

class LineLog {
 public:
  // Lines waiting beyond this many are dropped and counted.
  static constexpr size_t kQueueLimit = 100000;

  // `path` "-" is standard error. `onFailure` is called once, on the log's thread, with why lines
  // were lost (the first failed write, or the queue overflowing); after a failed write every
  // later line is dropped.
  LineLog(std::string path, std::function<void(const Failure& failure)> onFailure);
  // Writes out what is queued (waiting for the file's lock at most as AppendWholeLine does), then
  // ends the log's thread.
  ~LineLog();
  LineLog(const LineLog&) = delete;
  LineLog& operator=(const LineLog&) = delete;

  // Queues one line (without its newline); from any thread, never waits on the output.
  void Add(std::string line);

 private:
  void Run();
  // Writes the lines, one after another; false with `failure` when they could not all be written.
  bool WriteOut(const std::deque<std::string>& lines, Failure& failure);
  void Fail(const Failure& failure);

  const std::string path_;
  const std::function<void(const Failure&)> onFailure_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::atomic<bool> closing_ = false;  // set under mutex_
  bool failed_ = false;                // on the log's thread only
  bool reported_ = false;              // under mutex_
  int64_t lost_ = 0;                   // under mutex_
  std::thread thread_;
};

}  // namespace vn
