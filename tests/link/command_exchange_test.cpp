// Command frames, reply bytes and the waits under them.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "far_end.h"
#include "link/framing.h"
#include "link/link_event.h"

namespace vn::testing {
namespace {

Bytes Command(uint8_t code, uint8_t sub, uint8_t last = ETX) {
  return {STX, code, sub, last};
}

TEST(LinkMessage, DecodingLooksAtCodeAndForSomeCodesAtTheSubByte) {
  struct Case {
    uint8_t code, sub;
    int index;
  };
  // Sub bytes and codes beyond those of the table, whose own frames are walked below.
  const Case cases[] = {{0x01, 0x05, 0},  {0x02, 0x09, 3},  {0x03, 0x7F, 6},  {0x05, 0x02, 12},
                        {0x06, 0xFF, 15}, {0x0C, 0x01, 20}, {0x00, 0x00, -1}, {0x07, 0x00, -1},
                        {0x08, 0x05, -1}, {0x0D, 0x00, -1}, {0xFF, 0x01, -1}};
  for (const Case& c : cases) {
    const Bytes frame = Command(c.code, c.sub, 0xAA);  // the fourth byte is ignored
    EXPECT_EQ(DecodeCommand(frame.data()), c.index) << int(c.code) << "/" << int(c.sub);
  }
}

// Every index of the vocabulary: its text, its frame and what that frame reads back as, and the
// event that shows it (phase, failure, a step that went right).
TEST(LinkMessage, EveryIndexHasItsTextFrameAndEvent) {
  enum Says { kPlain, kGood, kBad };
  struct Row {
    int index;
    const char* text;
    int code, sub;  // code -1: no frame
    bool decodes;   // a received frame reads back as the index
    Phase phase;
    Says says;
  };
  using enum Phase;
  const Row rows[] = {{0, "Connectting...", 0x01, 0x00, true, kConnect, kPlain},
                      {1, "Connect failed!", -1, 0, false, kConnect, kBad},
                      {2, "Connect Success!", -1, 0, false, kConnect, kGood},
                      {3, nullptr, 0x02, 0x00, true, kNone, kPlain},
                      {4, "Verify...", -1, 0, false, kVerify, kPlain},
                      {5, "Ident check failed!", 0x03, 0x00, true, kVerify, kBad},
                      {6, "Ident check Success!", 0x03, 0x01, true, kVerify, kGood},
                      {7, "Transfer...", 0x04, 0x00, true, kTransfer, kPlain},
                      {8, "Transfer failed!", -1, 0, false, kTransfer, kBad},
                      {9, "Transfer Success!", -1, 0, false, kTransfer, kGood},
                      {10, "Erase flash...", -1, 0, false, kErase, kPlain},
                      {11, "Erase flash failed!", 0x05, 0x00, true, kErase, kBad},
                      {12, "Erase flash Success!", 0x05, 0x01, true, kErase, kGood},
                      {13, "Program flash...", -1, 0, false, kProgram, kPlain},
                      {14, "Program flash failed!", 0x06, 0x00, true, kProgram, kBad},
                      {15, "Program flash Success!", 0x06, 0x01, true, kProgram, kGood},
                      {16, "SatcoDX Update start!", 0x0B, 0x00, true, kNone, kPlain},
                      {17, "SatcoDX Update failed!", -1, 0, false, kNone, kPlain},
                      {18, "Inputting SatcoDX file, please wait...", -1, 0, false, kNone, kPlain},
                      {19, "SatcoDX Update Success!", -1, 0, false, kNone, kPlain},
                      {20, "SatcoDX Download start!", 0x0C, 0x00, true, kNone, kPlain},
                      {21, "SatcoDX Download failed!", -1, 0, false, kNone, kPlain},
                      {22, "SatcoDX Download Success!", -1, 0, false, kNone, kPlain},
                      {23, "Update failed!", 0x08, 0x00, false, kNone, kBad},
                      {24, "Update Success!", 0x08, 0x01, false, kNone, kGood},
                      {25, nullptr, 0x09, 0x00, true, kNone, kPlain},
                      {26, nullptr, 0x0A, 0x00, true, kNone, kPlain},
                      {-1, nullptr, -1, 0, false, kNone, kPlain},  // out of range on both sides
                      {27, nullptr, -1, 0, false, kNone, kPlain}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.index);
    EXPECT_STREQ(LinkMessageText(row.index), row.text);
    const std::optional<CommandFrame> frame = CommandFrameOf(row.index);
    ASSERT_EQ(frame.has_value(), row.code >= 0);
    if (frame) {
      EXPECT_EQ(*frame, MakeCommandFrame(uint8_t(row.code), uint8_t(row.sub)));
      EXPECT_EQ(DecodeCommand(frame->data()), row.decodes ? row.index : -1);
    }
    const LinkEvent event = MessageEvent(row.index);
    EXPECT_EQ(event.message, row.index);
    EXPECT_EQ(event.text, row.text ? row.text : "");
    EXPECT_EQ(event.phase, row.phase);
    EXPECT_EQ(event.kind, row.says == kBad ? EventKind::kFailure : EventKind::kStatus);
    EXPECT_EQ(IsStepSuccess(event), row.says == kGood);
  }
  const LinkEvent done = BoxDoneEvent();  // a box done names its message too
  EXPECT_EQ(done.kind, EventKind::kSuccess);
  EXPECT_EQ(done.message, kMsgUpdateSuccess);
  EXPECT_EQ(done.text, "Update Success!");
  EXPECT_TRUE(IsStepSuccess(done));
}

class CommandExchangeTest : public RigTest {
 protected:
  std::future<int> ReceiveCommandLater() {
    return std::async(std::launch::async, [this] { return ReceiveCommand(port()); });
  }
  void TearDown() override {
    if (rig_.port) rig_.port->RequestStop();  // ends any wait a failed check left running
  }
};

TEST_P(CommandExchangeTest, ReadyFrameWithAnySubByteConnects) {
  box().Send(Command(kCodeReady, 0x05, 0x00));
  EXPECT_TRUE(WaitConnect(port()));
  EXPECT_EQ(port().Tally().LastFault(), BoxFailureKind::kNone);
  box().Send(Command(kCodeIdent, 0x01));
  EXPECT_FALSE(WaitConnect(port()));
  EXPECT_EQ(port().Tally().LastFault(), BoxFailureKind::kUnexpectedAnswer);
}

// Messages the PC finds waiting together: the awaited one is taken from the front when it is
// well formed, and what follows waits for the next wait; anything else goes whole.
struct Together {
  std::string name;
  Bytes joined;            // found waiting in one piece
  Bytes later;             // sent once the PC has read the joined bytes
  std::string waits;       // in turn: 'r' a reply byte, 'c' a command frame
  std::vector<int> taken;  // what each wait returns
};

// Each row over the system's line and over the in-memory pair.
class TogetherTest : public ::testing::TestWithParam<Together> {};

TEST_P(TogetherTest, TheAwaitedMessageIsTakenFromTheFrontAndTheRestKept) {
  const Together& row = GetParam();
  for (const std::string kind : {kSystemRig, "memory"}) {
    SCOPED_TRACE(kind);
    Rig rig = MakeRig(kind);
    if (!rig.port) continue;  // no line under Wine
    ComPort& port = *rig.port;
    rig.far->Send(row.joined);
    ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == int32_t(row.joined.size()); }));
    std::future<std::vector<int>> taken = std::async(std::launch::async, [&] {
      std::vector<int> results;
      for (char wait : row.waits) {
        results.push_back(wait == 'r' ? int(WaitReplyByte(port)) : ReceiveCommand(port));
      }
      return results;
    });
    const int64_t joined = int64_t(row.joined.size());
    EXPECT_TRUE(WaitUntil([&] { return rig.port->BytesRead() >= joined; }));
    if (!row.later.empty()) rig.far->Send(row.later);
    if (taken.wait_for(kHangGuard) != std::future_status::ready) port.RequestStop();
    EXPECT_EQ(taken.get(), row.taken);
  }
}

Together Row(std::string name, Bytes joined, Bytes later, std::string waits,
             std::vector<int> taken) {
  return {std::move(name), std::move(joined), std::move(later), std::move(waits), std::move(taken)};
}

const Together kTogether[] = {
    Row("TwoReportsAreTakenInTurn", Joined({Command(kCodeErase, 0x01), Command(kCodeErase, 0x00)}),
        {}, "cc", {kMsgEraseSuccess, kMsgEraseFailed}),
    Row("AnAckAndTheVerdictBehindIt", Joined({{ACK}, Command(kCodeIdent, 0x01)}), {}, "rc",
        {ACK, kMsgIdentSuccess}),
    Row("AnAckAndTheStartOfTheNextFrame", {ACK, STX, kCodeIdent}, {0x00, ETX}, "rc",
        {ACK, kMsgIdentFailed}),
    Row("AFrameWithoutItsEtxGoesWithWhatFollows",
        Joined({{STX, kCodeErase, 0x01, 0x00}, Command(kCodeErase, 0x01)}),
        Command(kCodeProgram, 0x01), "c", {kMsgProgramSuccess}),
    Row("AFrameWhereAnAnswerIsAwaitedGoesWithWhatFollows",
        Joined({Command(kCodeIdent, 0x01), {ACK}}), {NAK}, "r", {NAK}),
    Row("ALoneStxWhereAnAnswerIsAwaitedIsAnAnswer", {STX}, {}, "r", {STX}),
    Row("GarbageInFrontGoesWithWhatFollows", Joined({{0x55}, Command(kCodeErase, 0x01)}),
        Command(kCodeIdent, 0x00), "c", {kMsgIdentFailed}),
    Row("AFrameNotStartingWithStxIsDroppedAndTheWaitGoesOn", {0x55, kCodeReady, 0x00, ETX},
        Command(kCodeProgram, 0x01), "c", {kMsgProgramSuccess})};
INSTANTIATE_TEST_SUITE_P(Rows, TogetherTest, ::testing::ValuesIn(kTogether),
                         [](const auto& info) { return info.param.name; });

TEST_P(CommandExchangeTest, FrameArrivingInPiecesIsTakenWhenComplete) {
  std::future<int> result = ReceiveCommandLater();
  box().Send({STX, kCodeErase});
  std::this_thread::sleep_for(5ms);
  box().Send({0x01, ETX});
  ASSERT_EQ(result.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(result.get(), kMsgEraseSuccess);
}

TEST_P(CommandExchangeTest, UndecodableFrameEndsTheWaitWithMinusOne) {
  box().Send(Command(0x08, 0x01));
  EXPECT_EQ(ReceiveCommand(port()), -1);
  EXPECT_TRUE(port().PortOpened());
}

// A stop from another thread ends a command wait, and so does a box that goes away.
TEST_P(CommandExchangeTest, StopOrAVanishedBoxEndsACommandWait) {
  for (const bool vanish : {false, true}) {
    SCOPED_TRACE(vanish ? "box vanished" : "stopped");
    if (vanish && !box().CanVanish()) continue;  // two joined COM ports cannot pull the line
    if (vanish) rig_ = MakeRig(GetParam());
    std::future<int> result = ReceiveCommandLater();
    std::this_thread::sleep_for(20ms);
    vanish ? box().Vanish() : port().RequestStop();
    ASSERT_EQ(result.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(result.get(), -1);
    EXPECT_FALSE(port().PortOpened());
    // A port that went away says why in the system's words; a stop is no loss.
    EXPECT_EQ(port().LossFailure().Failed(), vanish);
    if (vanish) {
      EXPECT_FALSE(FailureText(port().LossFailure()).empty());
    }
  }
}

TEST_P(CommandExchangeTest, ReplyWaitSkipsOtherBytesAndTimesOutWithZero) {
  box().Send({0x41});
  ASSERT_TRUE(WaitForWaiting(1));
  std::future<uint8_t> reply =
      std::async(std::launch::async, [this] { return WaitReplyByte(port()); });
  ASSERT_TRUE(WaitForWaiting(0));
  box().Send({NAK});
  ASSERT_EQ(reply.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(reply.get(), NAK);
  // Why the exchange went wrong, as the box's outcome will tell it if it ends the box.
  EXPECT_EQ(port().Tally().LastFault(), BoxFailureKind::kTooManyResends);

  EXPECT_EQ(WaitReplyByte(port(), 20), 0);
  EXPECT_EQ(port().Tally().LastFault(), BoxFailureKind::kNoAnswer);
  port().RequestStop();
  EXPECT_EQ(WaitReplyByte(port()), 0);  // at once, else the test times out
}

VN_INSTANTIATE_OVER_RIGS(CommandExchangeTest);

}  // namespace
}  // namespace vn::testing
