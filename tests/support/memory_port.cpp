#include "support/memory_port.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace vn {
namespace {
constexpr std::chrono::microseconds kWaitSlice{50000};
}  // namespace

struct MemoryPort::Line {
  struct End {
    std::deque<uint8_t> input;
    bool opened = true;   // PortOpened
    bool closed = false;  // closed or destroyed: the other end sees it vanish
    int failWrites = 0;
  };
  std::mutex mutex;
  std::condition_variable changed;
  End ends[2];
};

std::pair<std::unique_ptr<MemoryPort>, std::unique_ptr<MemoryPort>> MemoryPort::MakePair() {
  auto line = std::make_shared<Line>();
  return {std::unique_ptr<MemoryPort>(new MemoryPort(line, 0)),
          std::unique_ptr<MemoryPort>(new MemoryPort(line, 1))};
}

MemoryPort::MemoryPort(std::shared_ptr<Line> line, int side)
    : line_(std::move(line)), side_(side) {}

MemoryPort::~MemoryPort() {
  CloseComPort();
}

bool MemoryPort::OpenComPort(const std::string& /*name*/) {
  std::lock_guard lock(line_->mutex);
  Line::End& self = line_->ends[side_];
  self.input.clear();
  self.closed = false;
  ClearLoss();
  self.opened = !line_->ends[1 - side_].closed;
  line_->changed.notify_all();
  return self.opened;
}

bool MemoryPort::CloseComPort() {
  std::lock_guard lock(line_->mutex);
  Line::End& self = line_->ends[side_];
  self.opened = false;
  self.closed = true;
  self.input.clear();
  line_->changed.notify_all();
  return true;
}

bool MemoryPort::PurgeComPort() {
  std::lock_guard lock(line_->mutex);
  line_->ends[side_].input.clear();
  return !line_->ends[side_].closed;
}

int32_t MemoryPort::ComWrite(const uint8_t* data, int32_t count) {
  {
    std::lock_guard lock(line_->mutex);
    Line::End& self = line_->ends[side_];
    self.input.clear();
    if (self.failWrites > 0) {
      --self.failWrites;
      return -1;
    }
  }
  return WriteRaw(data, count);
}

int32_t MemoryPort::WriteRaw(const uint8_t* data, int32_t count) {
  std::lock_guard lock(line_->mutex);
  Line::End& self = line_->ends[side_];
  if (count < 0 || count > kMaxTransfer || !self.opened) return -1;
  Line::End& peer = line_->ends[1 - side_];
  if (peer.closed) {
    if (self.opened) NoteLoss(FailureSaying(FailureKind::kNotFound, "the other end was closed"));
    self.opened = false;
    return -1;
  }
  peer.input.insert(peer.input.end(), data, data + count);
  line_->changed.notify_all();
  return count;
}

int32_t MemoryPort::ComReadExact(uint8_t* destination, int32_t count) {
  std::lock_guard lock(line_->mutex);
  Line::End& self = line_->ends[side_];
  if (count < 0 || count > kMaxTransfer || !self.opened) return -1;
  if (self.input.size() != size_t(count)) {
    if (self.input.size() > size_t(count)) self.input.clear();
    return -1;
  }
  std::copy(self.input.begin(), self.input.end(), destination);
  self.input.clear();
  return count;
}

int32_t MemoryPort::ComReadSome(uint8_t* destination, int32_t max) {
  std::lock_guard lock(line_->mutex);
  Line::End& self = line_->ends[side_];
  if (!self.opened || max < 0 || max > kMaxTransfer) return -1;
  const int32_t count = std::min<int32_t>(max, int32_t(self.input.size()));
  std::copy_n(self.input.begin(), count, destination);
  self.input.erase(self.input.begin(), self.input.begin() + count);
  return count;
}

bool MemoryPort::PortOpened() const {
  std::lock_guard lock(line_->mutex);
  return line_->ends[side_].opened;
}

void MemoryPort::RequestStop() {
  std::lock_guard lock(line_->mutex);
  line_->ends[side_].opened = false;
  line_->changed.notify_all();
}

int32_t MemoryPort::BytesWaiting() {
  std::lock_guard lock(line_->mutex);
  const Line::End& self = line_->ends[side_];
  return self.opened ? int32_t(self.input.size()) : -1;
}

void MemoryPort::WaitForInput(std::chrono::microseconds limit) {
  std::unique_lock lock(line_->mutex);
  Line::End& self = line_->ends[side_];
  const Line::End& peer = line_->ends[1 - side_];
  if (!self.opened || limit.count() <= 0) return;
  line_->changed.wait_for(lock, std::min(limit, kWaitSlice),
                          [&] { return !self.opened || !self.input.empty() || peer.closed; });
  if (peer.closed) {
    if (self.opened) NoteLoss(FailureSaying(FailureKind::kNotFound, "the other end was closed"));
    self.opened = false;
  }
}

void MemoryPort::FailNextWrites(int count) {
  std::lock_guard lock(line_->mutex);
  line_->ends[side_].failWrites = count;
}

}  // namespace vn
