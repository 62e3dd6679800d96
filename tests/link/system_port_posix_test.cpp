// The POSIX port on pseudo-terminals: reasons for a failed open, a cooked line made transparent,
// the last answer kept at the close, and the names of the window's list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "far_end.h"
#include "link/system_port.h"
#include "link/wire_format.h"

namespace vn::test {
namespace {

TEST(SystemPort, OpeningFailsWithAReasonTheUserCanActOn) {
  auto port = MakeSystemComPort();
  EXPECT_FALSE(port->OpenComPort("/dev/vespanode-no-such-port"));
  EXPECT_FALSE(port->PortOpened());
  EXPECT_FALSE(port->PurgeComPort());
  EXPECT_EQ(port->LastOpenFailure().problem, PortProblem::kNoSuchDevice);
  EXPECT_NE(DescribePortFailure(port->LastOpenFailure()).find("No such file"), std::string::npos);

  EXPECT_FALSE(port->OpenComPort("/dev/null"));
  EXPECT_EQ(port->LastOpenFailure().problem, PortProblem::kNotASerialPort);

  // A port in use is busy for a second opener, root included (root ignores TIOCEXCL).
  Rig rig = MakeRig("pty");
  ASSERT_TRUE(rig.port->PortOpened());
  EXPECT_FALSE(port->OpenComPort(rig.slavePath));
  EXPECT_EQ(port->LastOpenFailure().problem, PortProblem::kBusy);
  EXPECT_TRUE(rig.port->PortOpened());
  rig.port->CloseComPort();
  EXPECT_TRUE(port->OpenComPort(rig.slavePath));
  EXPECT_EQ(port->LastOpenFailure().problem, PortProblem::kNone);
}

// A fresh pseudo-terminal is cooked, as a fresh /dev/ttyS* or /dev/ttyUSB* is: XON/XOFF on, CR/NL
// mapped, echo and canonical lines. The port must carry every byte value unchanged both ways.
TEST(SystemPort, EveryByteValueCrossesACookedLineUnchanged) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  auto port = MakeSystemComPort();
  ASSERT_TRUE(port->OpenComPort(::ptsname(master)));
  Bytes all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = uint8_t(i);

  ASSERT_EQ(::write(master, all.data(), all.size()), ssize_t(all.size()));
  EXPECT_TRUE(WaitUntil([&] { return port->BytesWaiting() >= 256; }));
  Bytes received(256);
  ASSERT_EQ(port->ComReadExact(received.data(), 256), 256);
  EXPECT_EQ(received, all);

  ASSERT_EQ(port->ComWrite(all.data(), 256), 256);
  Bytes sent;
  WaitUntil([&] {
    uint8_t chunk[512];
    const ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n > 0) sent.insert(sent.end(), chunk, chunk + n);
    return sent.size() >= all.size();
  });
  EXPECT_EQ(sent, all);

  termios line{};
  ASSERT_EQ(tcgetattr(master, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
  EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t(CS8));
  port->CloseComPort();
  ::close(master);
}

// What the PC wrote last (the ACK of the last frame, say) still reaches the box after a close
// that follows at once. Whether a flush at the close catches the bytes still on their way depends
// on the kernel's timing, so the close is tried a number of times.
TEST(SystemPort, CloseDeliversTheLastAnswer) {
  Rig rig = MakeRig("pty");
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(rig.port->OpenComPort(rig.slavePath));
    const uint8_t ack = ACK;
    ASSERT_EQ(rig.port->ComWrite(&ack, 1), 1);
    rig.port->CloseComPort();
    ASSERT_EQ(rig.far->Receive(1, 1000ms), Bytes{ACK}) << "round " << round;
  }
}

// Someone else flushing the line (the box re-announcing itself does) can empty the queue between
// the count and the read; that empty read is not a pulled cable.
TEST(SystemPort, InputFlushedUnderAReadIsNoVanishedPort) {
  Rig rig = MakeRig("pty");
  ASSERT_TRUE(rig.port->PortOpened());
  std::atomic<bool> done{false};
  std::thread flusher([&] {
    while (!done) {
      rig.far->Send({STX, 0x01, 0x00, ETX});
      tcflush(rig.slaveFd, TCIFLUSH);
    }
  });
  uint8_t frame[4];
  const auto until = std::chrono::steady_clock::now() + 300ms;
  while (std::chrono::steady_clock::now() < until && rig.port->PortOpened()) {
    rig.port->ComReadExact(frame, 4);
  }
  done = true;
  flusher.join();
  EXPECT_TRUE(rig.port->PortOpened());
}

TEST(SystemPort, ListedNamesMapToSerialDevices) {
  EXPECT_EQ(ComDeviceName("COM.01"), "/dev/ttyS0");
  EXPECT_EQ(ComDeviceName("COM.10"), "/dev/ttyS9");
  EXPECT_EQ(ComDeviceName("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ComDeviceName("com10"), "/dev/ttyS9");
  EXPECT_EQ(ComDeviceName("Com.05"), "/dev/ttyS4");
  // Anything else is a device path.
  for (const char* other : {"COM.00", "COM.11", "COM11", "COM0", "COM01", "COM.1", "COM", "COMX",
                            "/dev/ttyUSB0", "/dev/pts/3", ""}) {
    EXPECT_EQ(ComDeviceName(other), other);
  }
}

}  // namespace
}  // namespace vn::test
