#include "sim/box_link.h"

#include <algorithm>
#include <thread>

#include "link/wire_format.h"

namespace vn {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Every wait is cut into slices this short, so a stop takes effect quickly.
constexpr milliseconds kSlice{20};
// A message the PC writes arrives in one burst; a part followed by this much quiet is all there is.
constexpr milliseconds kPartialQuiet{250};
// Before a NAK: this much quiet means the rest of a damaged message has all come.
constexpr milliseconds kResyncQuiet{20};
// Resynchronising gives up on a PC that never stops sending.
constexpr milliseconds kResyncLimit{2000};
// Paced writes go out in chunks this size, each after its line time.
constexpr size_t kPaceChunk = 16;
constexpr long kBitsPerByte = 11;
constexpr long kBitRate = 115200;

milliseconds Remaining(BoxLink::Clock::time_point deadline) {
  const auto left = deadline - BoxLink::Clock::now();
  return std::max(milliseconds{0}, std::chrono::ceil<milliseconds>(left));
}

}  // namespace

BoxLink::BoxLink(PtyLine& line, const std::atomic<bool>& stop, bool pace)
    : line_(line), stop_(stop), pace_(pace) {}

microseconds BoxLink::LineTime(size_t count) {
  return microseconds{long(count) * kBitsPerByte * 1'000'000 / kBitRate};
}

bool BoxLink::Fill(milliseconds limit) {
  uint8_t chunk[4096];
  const long got = line_.ReadSome(chunk, sizeof chunk, limit);
  if (got < 0) return false;
  if (got > 0) {
    if (buffer_.empty()) bufferSince_ = Clock::now();
    buffer_.insert(buffer_.end(), chunk, chunk + got);
  }
  return true;
}

Receipt BoxLink::Receive(size_t count, milliseconds timeout, std::vector<uint8_t>& message) {
  if (stall_.count() > 0 && !Sleep(stall_)) return Receipt::kStopped;
  const auto deadline = Clock::now() + timeout;
  auto lastArrival = Clock::now();
  while (buffer_.size() < count) {
    if (stop_) return Receipt::kStopped;
    if (Clock::now() >= deadline) return buffer_.empty() ? Receipt::kTimeout : Receipt::kPartial;
    const size_t before = buffer_.size();
    if (!Fill(std::min(kSlice, Remaining(deadline)))) return Receipt::kBroken;
    if (buffer_.size() != before) {
      lastArrival = Clock::now();
    } else if (!buffer_.empty() && Clock::now() - lastArrival > kPartialQuiet) {
      return Receipt::kPartial;
    }
  }
  message.assign(buffer_.begin(), buffer_.begin() + count);
  Trace(TraceDirection::kReceived, message);
  buffer_.erase(buffer_.begin(), buffer_.begin() + count);
  // The bytes behind this message were still on the line while it arrived.
  const auto arrived = bufferSince_ + LineTime(count);
  answerNotBefore_ = arrived;
  bufferSince_ = arrived;
  return Receipt::kOk;
}

std::optional<uint8_t> BoxLink::WaitStartCommand(milliseconds period, bool& broken) {
  const auto deadline = Clock::now() + period;
  for (;;) {
    for (size_t i = 0; i + kCommandFrameSize <= buffer_.size(); ++i) {
      const uint8_t code = buffer_[i + 1];
      if (buffer_[i] == STX && (code == kCodeUpload || code == kCodeDownload) &&
          buffer_[i + 3] == ETX) {
        const size_t end = i + kCommandFrameSize;
        Trace(TraceDirection::kDropped, std::span(buffer_.data(), i));
        Trace(TraceDirection::kReceived, std::span(buffer_.data() + i, kCommandFrameSize));
        answerNotBefore_ = bufferSince_ + LineTime(end);
        bufferSince_ = answerNotBefore_;
        buffer_.erase(buffer_.begin(), buffer_.begin() + end);
        return code;
      }
    }
    // Whatever cannot begin a command any more is stale: leftovers of an abandoned session.
    if (buffer_.size() >= kCommandFrameSize) {
      Trace(TraceDirection::kDropped,
            std::span(buffer_.data(), buffer_.size() - (kCommandFrameSize - 1)));
      buffer_.erase(buffer_.begin(), buffer_.end() - (kCommandFrameSize - 1));
    }
    if (stop_ || Clock::now() >= deadline) return std::nullopt;
    if (!Fill(std::min(kSlice, Remaining(deadline)))) {
      broken = true;
      return std::nullopt;
    }
  }
}

void BoxLink::DiscardInput() {
  Trace(TraceDirection::kDropped, buffer_);
  buffer_.clear();
  uint8_t chunk[4096];
  for (long got; (got = line_.ReadSome(chunk, sizeof chunk, milliseconds{0})) > 0;) {
    Trace(TraceDirection::kDropped, std::span(chunk, size_t(got)));
  }
}

bool BoxLink::Write(std::span<const uint8_t> bytes) {
  Trace(TraceDirection::kSent, bytes);
  const auto giveUp = [this] { return stop_.load(); };
  if (!pace_) return line_.WriteAll(bytes.data(), bytes.size(), giveUp);
  std::this_thread::sleep_until(std::max(answerNotBefore_, Clock::now()));
  const auto start = Clock::now();
  for (size_t sent = 0; sent < bytes.size();) {
    const size_t chunk = std::min(kPaceChunk, bytes.size() - sent);
    if (!line_.WriteAll(bytes.data() + sent, chunk, giveUp)) return false;
    sent += chunk;
    std::this_thread::sleep_until(start + LineTime(sent));
    if (stop_) return false;
  }
  return true;
}

bool BoxLink::Resync() {
  const auto limit = Clock::now() + kResyncLimit;
  auto lastArrival = Clock::now();
  for (;;) {
    Trace(TraceDirection::kDropped, buffer_);
    buffer_.clear();  // whatever came is the rest of what is being dropped
    if (stop_) return false;
    if (!Fill(kResyncQuiet)) return false;
    const auto now = Clock::now();
    if (!buffer_.empty()) lastArrival = now;
    if (now - lastArrival >= kResyncQuiet || now >= limit) {
      Trace(TraceDirection::kDropped, buffer_);
      buffer_.clear();
      return true;
    }
  }
}

bool BoxLink::Sleep(microseconds duration) {
  const auto until = Clock::now() + duration;
  while (!stop_) {
    const auto now = Clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, until - now));
  }
  return false;
}

}  // namespace vn
