// The system's own port on a real line (a pseudo-terminal the system left cooked, or two joined
// COM ports): every byte value crosses unchanged, and the last answer survives the close.
#include <gtest/gtest.h>

#include "far_end.h"
#include "link/wire_format.h"

namespace vn::testing {
namespace {

class SystemPortLine : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = MakeSystemRig();
    // A pseudo-terminal is always there; two joined COM ports under Wine may not be.
    if (!rig_.port && kSystemRig == std::string("com")) GTEST_SKIP() << "no COM pair to test on";
    ASSERT_TRUE(rig_.port && rig_.port->PortOpened());
  }
  Rig rig_;
};

// XON and XOFF, CR and NL, 0x00 and bytes with any parity.
TEST_F(SystemPortLine, EveryByteValueCrossesUnchanged) {
  Bytes all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = uint8_t(i);
  rig_.far->Send(all);
  ASSERT_TRUE(WaitUntil([&] { return rig_.port->BytesWaiting() >= 256; }));
  Bytes received(256);
  ASSERT_EQ(rig_.port->ComReadExact(received.data(), 256), 256);
  EXPECT_EQ(received, all);

  ASSERT_EQ(rig_.port->ComWrite(all.data(), 256), 256);
  EXPECT_EQ(rig_.far->Receive(256), all);
}

// What the PC wrote last (the ACK of the last frame, say) still reaches the box after a close
// that follows at once. Whether a flush at the close catches the bytes still on their way depends
// on the system's timing, so the close is tried a number of times.
TEST_F(SystemPortLine, CloseDeliversTheLastAnswer) {
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(rig_.port->OpenComPort(rig_.slavePath));
    const uint8_t ack = ACK;
    ASSERT_EQ(rig_.port->ComWrite(&ack, 1), 1);
    rig_.port->CloseComPort();
    ASSERT_EQ(rig_.far->Receive(1, 2000ms), Bytes{ACK}) << "round " << round;
  }
}

}  // namespace
}  // namespace vn::testing
