#pragma once
// The event stream's clients: each has a queue of its own, bounded, so that a client that reads
// slowly loses messages instead of slowing anyone. A client whose queue overflowed is told once,
// with a `gap` message, when it catches up.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vn::http {

inline constexpr size_t kClientQueueLimit = 512;

class EventClient {
 public:
  explicit EventClient(size_t limit) : limit_(limit) {}

  // Adds SSE messages (already framed), waking the reader once. Never blocks beyond the queue's
  // own lock.
  void Push(const std::vector<std::string>& messages);
  // The next messages, waiting up to `wait` for one; empty on time-out or once closed. After an
  // overflow, a `gap` message saying how many were dropped comes before the next ones.
  std::vector<std::string> Take(std::chrono::milliseconds wait);
  void Close();
  bool Closed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> queue_;
  size_t limit_;
  uint64_t dropped_ = 0;
  bool closed_ = false;
};

// One SSE message: an optional event name and one line of data.
std::string SseMessage(const std::string& event, const std::string& data);

class EventFanout {
 public:
  explicit EventFanout(size_t clientQueueLimit = kClientQueueLimit) : limit_(clientQueueLimit) {}

  // A new client, its queue primed with `first` (the current state) before anything else.
  std::shared_ptr<EventClient> Join(const std::vector<std::string>& first);
  void Leave(const std::shared_ptr<EventClient>& client);
  // Messages made together go out together: one write to each client, not one each.
  void Publish(const std::vector<std::string>& messages);
  void CloseAll();
  size_t ClientCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<EventClient>> clients_;
  size_t limit_;
  bool closed_ = false;
};

}  // namespace vn::http
