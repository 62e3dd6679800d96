// Command frames, reply bytes and the waits under them.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "far_end.h"
#include "link/framing.h"

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
  const Case cases[] = {
      {0x01, 0x00, 0},  {0x01, 0x05, 0},  {0x02, 0x09, 3},  {0x03, 0x00, 5},  {0x03, 0x01, 6},
      {0x03, 0x7F, 6},  {0x04, 0x00, 7},  {0x05, 0x00, 11}, {0x05, 0x02, 12}, {0x06, 0x00, 14},
      {0x06, 0xFF, 15}, {0x09, 0x00, 25}, {0x0A, 0x00, 26}, {0x0B, 0x00, 16}, {0x0C, 0x01, 20},
      {0x00, 0x00, -1}, {0x07, 0x00, -1}, {0x08, 0x00, -1}, {0x08, 0x01, -1}, {0x0D, 0x00, -1},
      {0xFF, 0x01, -1},
  };
  for (const Case& c : cases) {
    const Bytes frame = Command(c.code, c.sub, 0xAA);  // the fourth byte is ignored
    EXPECT_EQ(DecodeCommand(frame.data()), c.index) << int(c.code) << "/" << int(c.sub);
  }
}

TEST(LinkMessage, EveryFrameOfTheTableDecodesBackExceptTheEncodeOnlyOnes) {
  int framed = 0;
  for (int index = 0; index < kLinkMessageCount; ++index) {
    const std::optional<CommandFrame> frame = CommandFrameOf(index);
    if (!frame) continue;
    ++framed;
    EXPECT_EQ((*frame)[0], STX);
    EXPECT_EQ((*frame)[3], ETX);
    const bool encodeOnly = index == kMsgUpdateFailed || index == kMsgUpdateSuccess;
    EXPECT_EQ(DecodeCommand(frame->data()), encodeOnly ? -1 : index) << index;
  }
  EXPECT_EQ(framed, 15);
  EXPECT_EQ(CommandFrameOf(kMsgUpdateSuccess), MakeCommandFrame(0x08, 0x01));
  EXPECT_EQ(CommandFrameOf(kMsgUpdateFailed), MakeCommandFrame(0x08, 0x00));
  EXPECT_FALSE(CommandFrameOf(kMsgConnectFailed));
  EXPECT_FALSE(CommandFrameOf(kLinkMessageCount));
}

TEST(LinkMessage, TextsAreTheStatusLineTextsAndSomeIndexesHaveNone) {
  EXPECT_STREQ(LinkMessageText(kMsgConnecting), "Connectting...");
  EXPECT_STREQ(LinkMessageText(kMsgIdentSuccess), "Ident check Success!");
  EXPECT_STREQ(LinkMessageText(18), "Inputting SatcoDX file, please wait...");
  EXPECT_STREQ(LinkMessageText(kMsgUpdateSuccess), "Update Success!");
  for (int index : {-1, 3, 25, 26, 27}) EXPECT_EQ(LinkMessageText(index), nullptr) << index;
}

class CommandExchangeTest : public RigTest {
 protected:
  std::future<int> ReceiveCommandLater() {
    return std::async(std::launch::async, [this] { return ReceiveCommand(port()); });
  }
  bool WaitForWaiting(int32_t count) {
    return WaitUntil([&] { return port().BytesWaiting() == count; });
  }
  // Lets the wait find `stray` waiting, and once the wait has taken it, sends `frame`: the
  // result of the wait.
  int ReceiveCommandAfter(const Bytes& stray, const Bytes& frame) {
    box().Send(stray);
    if (!WaitForWaiting(int32_t(stray.size()))) return -2;
    std::future<int> result = ReceiveCommandLater();
    if (WaitForWaiting(0)) box().Send(frame);
    if (result.wait_for(kHangGuard) != std::future_status::ready) port().RequestStop();
    return result.get();
  }
  void TearDown() override {
    if (rig_.port) rig_.port->RequestStop();  // ends any wait a failed check left running
  }
};

TEST_P(CommandExchangeTest, ReadyFrameWithAnySubByteConnects) {
  box().Send(Command(kCodeReady, 0x05, 0x00));
  EXPECT_TRUE(WaitConnect(port()));
  box().Send(Command(kCodeIdent, 0x01));
  EXPECT_FALSE(WaitConnect(port()));
}

TEST_P(CommandExchangeTest, FrameNotStartingWithStxIsDroppedAndTheWaitGoesOn) {
  EXPECT_EQ(ReceiveCommandAfter({0x55, kCodeReady, 0x00, ETX}, Command(kCodeProgram, 0x01)),
            kMsgProgramSuccess);
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

Bytes Join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TogetherTest,
    ::testing::Values(Together{"TwoReportsAreTakenInTurn",
                               Join(Command(kCodeErase, 0x01), Command(kCodeErase, 0x00)),
                               {},
                               "cc",
                               {kMsgEraseSuccess, kMsgEraseFailed}},
                      Together{"AnAckAndTheVerdictBehindIt",
                               Join({ACK}, Command(kCodeIdent, 0x01)),
                               {},
                               "rc",
                               {ACK, kMsgIdentSuccess}},
                      Together{"AnAckAndTheStartOfTheNextFrame",
                               {ACK, STX, kCodeIdent},
                               {0x00, ETX},
                               "rc",
                               {ACK, kMsgIdentFailed}},
                      Together{"AFrameWithoutItsEtxGoesWithWhatFollows",
                               Join({STX, kCodeErase, 0x01, 0x00}, Command(kCodeErase, 0x01)),
                               Command(kCodeProgram, 0x01),
                               "c",
                               {kMsgProgramSuccess}},
                      Together{"AFrameWhereAnAnswerIsAwaitedGoesWithWhatFollows",
                               Join(Command(kCodeIdent, 0x01), {ACK}),
                               {NAK},
                               "r",
                               {NAK}},
                      Together{"ALoneStxWhereAnAnswerIsAwaitedIsAnAnswer", {STX}, {}, "r", {STX}},
                      Together{"GarbageInFrontGoesWithWhatFollows",
                               Join({0x55}, Command(kCodeErase, 0x01)),
                               Command(kCodeIdent, 0x00),
                               "c",
                               {kMsgIdentFailed}}),
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

TEST_P(CommandExchangeTest, StopFromAnotherThreadEndsACommandWait) {
  std::future<int> result = ReceiveCommandLater();
  std::this_thread::sleep_for(20ms);
  port().RequestStop();
  ASSERT_EQ(result.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(result.get(), -1);
}

TEST_P(CommandExchangeTest, VanishedBoxEndsACommandWait) {
  if (!box().CanVanish()) GTEST_SKIP() << "this far end cannot pull the line";
  std::future<int> result = ReceiveCommandLater();
  std::this_thread::sleep_for(20ms);
  box().Vanish();
  ASSERT_EQ(result.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(result.get(), -1);
  EXPECT_FALSE(port().PortOpened());
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

  EXPECT_EQ(WaitReplyByte(port(), 20), 0);
  port().RequestStop();
  EXPECT_EQ(WaitReplyByte(port()), 0);  // at once, else the test times out
}

VN_INSTANTIATE_OVER_RIGS(CommandExchangeTest);

}  // namespace
}  // namespace vn::testing
