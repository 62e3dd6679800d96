#include "http/event_fanout.h"

#include <algorithm>

namespace vn::http {

void EventClient::Push(const std::vector<std::string>& messages) {
  {
    const std::lock_guard lock(mutex_);
    if (closed_) return;
    for (const std::string& message : messages) {
      if (queue_.size() >= limit_) {
        ++dropped_;
      } else {
        queue_.push_back(message);
      }
    }
  }
  ready_.notify_one();
}

std::vector<std::string> EventClient::Take(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, wait, [this] { return closed_ || !queue_.empty(); });
  std::vector<std::string> taken;
  if (closed_) return taken;
  taken.assign(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
  queue_.clear();
  if (dropped_ > 0) {
    // What is in the queue came before the overflow; the gap follows it.
    taken.push_back(
        SseMessage("gap", "{\"type\":\"gap\",\"dropped\":" + std::to_string(dropped_) + "}"));
    dropped_ = 0;
  }
  return taken;
}

void EventClient::Close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

bool EventClient::Closed() const {
  const std::lock_guard lock(mutex_);
  return closed_;
}

std::string SseMessage(const std::string& event, const std::string& data) {
  std::string message;
  if (!event.empty()) message += "event: " + event + "\n";
  // Our JSON is one line; a newline in data would end the message early.
  std::string line = data;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  message += "data: " + line + "\n\n";
  return message;
}

std::shared_ptr<EventClient> EventFanout::Join(const std::vector<std::string>& first) {
  // The current state may be larger than the queue's bound: it is let in whole.
  auto client = std::make_shared<EventClient>(std::max(limit_, first.size() + limit_));
  client->Push(first);
  const std::lock_guard lock(mutex_);
  if (closed_) {
    client->Close();
  } else {
    clients_.push_back(client);
  }
  return client;
}

void EventFanout::Leave(const std::shared_ptr<EventClient>& client) {
  client->Close();
  const std::lock_guard lock(mutex_);
  std::erase(clients_, client);
}

void EventFanout::Publish(const std::vector<std::string>& messages) {
  if (messages.empty()) return;
  const std::lock_guard lock(mutex_);
  for (const auto& client : clients_) client->Push(messages);
}

void EventFanout::CloseAll() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& client : clients_) client->Close();
  clients_.clear();
}

size_t EventFanout::ClientCount() const {
  const std::lock_guard lock(mutex_);
  return clients_.size();
}

}  // namespace vn::http
