#include "sim/box_session.h"

#include "link/wire_format.h"
#include "sim/box_fault_option.h"

namespace vn {

BoxSession::BoxSession(BoxLink& link, const BoxOptions& options, BoxShared& shared)
    : link_(link), options_(options), faults_(options.faults), shared_(shared) {}

BoxSession::Step BoxSession::AtStep(FaultStep step) {
  if (faults_.vanishAt == step) {
    summary_ = "vanished at " + std::string(FaultStepName(step));
    return SessionEnd::kVanished;
  }
  if (faults_.silentAt != step) return std::nullopt;
  summary_ = "silent at " + std::string(FaultStepName(step));
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

BoxSession::Step BoxSession::ReceiveWhole(size_t size, FaultStep kind, const char* awaited,
                                          std::vector<uint8_t>& message) {
  for (;;) {
    const Receipt receipt = link_.Receive(size, kPcSilence, message);
    if (receipt == Receipt::kOk) {
      ReceivedFromPc(kind, message);
      return std::nullopt;
    }
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

bool BoxSession::Ack(std::span<const uint8_t> follow) {
  ++acksDue_;
  if (acksDue_ == faults_.dropAck) acksToDrop_ = faults_.dropAckTimes;
  if (acksDue_ == faults_.nakAck) acksToNak_ = faults_.nakAckTimes;
  if (acksToDrop_ > 0) {
    --acksToDrop_;
    return false;
  }
  if (acksToNak_ > 0) {
    --acksToNak_;
    Nak();
    return false;
  }
  std::vector<uint8_t> bytes{ACK};
  bytes.insert(bytes.end(), follow.begin(), follow.end());
  link_.Send(bytes);
  Record([](BoxStats& stats) { ++stats.acksSent; });
  return true;
}

void BoxSession::Nak() {
  // The rest of whatever was wrong is dropped first, so the PC's next message starts clean.
  if (!link_.Resync()) return;
  link_.Send(std::span(&NAK, 1));
  Record([](BoxStats& stats) { ++stats.naksSent; });
}

BoxSession::Step BoxSession::SendAfter(std::chrono::milliseconds work,
                                       std::span<const uint8_t> bytes) {
  if (work.count() > 0 && !link_.Sleep(work)) return SessionEnd::kStopped;
  if (link_.Send(bytes)) return std::nullopt;
  return Lost(link_.Stopped() ? Receipt::kStopped : Receipt::kBroken, "");
}

BoxSession::Step BoxSession::Unanswered(Receipt receipt, const char* what) {
  if (receipt != Receipt::kTimeout && receipt != Receipt::kPartial) return Lost(receipt, what);
  Record([](BoxStats& stats) { ++stats.answersMissing; });
  return Abandon(std::string("the PC never answered the ") + what);
}

void BoxSession::ReceivedFromPc(FaultStep kind, std::vector<uint8_t>& message) {
  if (faults_.damageReceived != kind || ++damageKindSeen_ != faults_.damageReceivedNth) return;
  message[message.size() > 1 ? 1 : 0] ^= 0xFF;
}

bool BoxSession::BackToBack(FaultStep step) {
  if (faults_.backToBack != step || backToBackDone_) return false;
  backToBackDone_ = true;
  return true;
}

}  // namespace vn
