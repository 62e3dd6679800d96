#include "sim/box_session.h"

#include "link/wire_format.h"

namespace vn {

BoxSession::BoxSession(BoxLink& link, const BoxOptions& options, BoxShared& shared)
    : link_(link), options_(options), faults_(options.faults), shared_(shared) {}

BoxSession::Step BoxSession::AtStep(std::string_view step) {
  if (faults_.vanishAt == step) {
    summary_ = "vanished at " + std::string(step);
    return SessionEnd::kVanished;
  }
  if (faults_.silentAt != step) return std::nullopt;
  summary_ = "silent at " + std::string(step);
  // Whatever the PC sends now goes unanswered, until it has been quiet for the silence limit.
  std::vector<uint8_t> ignored;
  for (;;) {
    link_.DiscardInput();
    switch (link_.Receive(1, kPcSilence, ignored)) {
      case Receipt::kOk:
      case Receipt::kPartial:
        break;
      case Receipt::kTimeout:
        return SessionEnd::kAbandoned;
      case Receipt::kStopped:
        return SessionEnd::kStopped;
      case Receipt::kBroken:
        return SessionEnd::kVanished;
    }
  }
}

BoxSession::Step BoxSession::ReceiveWhole(size_t size, const char* awaited,
                                          std::vector<uint8_t>& message) {
  for (;;) {
    const Receipt receipt = link_.Receive(size, kPcSilence, message);
    if (receipt == Receipt::kOk) return std::nullopt;
    if (receipt != Receipt::kPartial) return Lost(receipt, awaited);
    Nak();
  }
}

BoxSession::Step BoxSession::Lost(Receipt receipt, const char* awaited) {
  switch (receipt) {
    case Receipt::kStopped:
      return SessionEnd::kStopped;
    case Receipt::kBroken:
      summary_ = "the pseudo-terminal failed";
      Record([](BoxStats& stats) { stats.lastError = "the pseudo-terminal failed"; });
      return SessionEnd::kVanished;
    default:
      return Abandon(std::string("no ") + awaited + " from the PC");
  }
}

SessionEnd BoxSession::Abandon(std::string why) {
  summary_ = "abandoned: " + why;
  Record([&](BoxStats& stats) {
    stats.lastError = why;
    ++stats.timeouts;
  });
  return SessionEnd::kAbandoned;
}

bool BoxSession::Ack() {
  if (++acksDue_ == faults_.dropAck) return false;
  link_.Send(std::span(&ACK, 1));
  Record([](BoxStats& stats) { ++stats.acksSent; });
  return true;
}

void BoxSession::Nak() {
  link_.Send(std::span(&NAK, 1));
  Record([](BoxStats& stats) { ++stats.naksSent; });
}

BoxSession::Step BoxSession::SendUnasked(std::span<const uint8_t> bytes) {
  if (link_.SendUnasked(bytes, kPcSilence)) return std::nullopt;
  if (link_.Stopped()) return SessionEnd::kStopped;
  return Abandon("the PC stopped reading");
}

}  // namespace vn
