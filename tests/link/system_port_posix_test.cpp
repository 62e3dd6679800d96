// The POSIX port on pseudo-terminals: reasons for a failed open, the line it sets up, and the
// names of the window's list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <thread>

#include "far_end.h"
#include "link/system_port.h"
#include "link/wire_format.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

// Every kind of thing a port name can be, each refused at once with what it is. The test ends
// within its time limit only if none of them is waited on.
TEST(SystemPort, OpeningFailsWithAReasonTheUserCanActOn) {
  vn::testing::ScratchFolder scratch;
  const std::string fifo = scratch.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string file = scratch.File("file");
  ASSERT_TRUE(std::ofstream(file) << "not a port");
  const std::string link = scratch.File("link-to-folder");
  ASSERT_EQ(::symlink(scratch.Path().c_str(), link.c_str()), 0);
  struct Row {
    std::string path;
    FailureKind problem;
    std::string text;
  };
  const Row rows[] = {{"/dev/vespanode-no-such-port", FailureKind::kNotFound, "No such file"},
                      {"/dev/null", FailureKind::kWrongKind, "not a serial port"},
                      {scratch.Path(), FailureKind::kWrongKind, "a folder, not a serial port"},
                      {link, FailureKind::kWrongKind, "a folder, not a serial port"},
                      {file, FailureKind::kWrongKind, "a regular file, not a serial port"},
                      {fifo, FailureKind::kWrongKind, "a FIFO, not a serial port"},
                      // Opening it makes a new pseudo-terminal that no box answers on.
                      {"/dev/ptmx", FailureKind::kWrongKind, "multiplexer, not a serial port"}};
  auto port = MakeSystemComPort();
  for (const Row& row : rows) {
    EXPECT_FALSE(port->OpenComPort(row.path)) << row.path;
    EXPECT_FALSE(port->PortOpened());
    EXPECT_FALSE(port->PurgeComPort());
    EXPECT_EQ(port->LastOpenFailure().kind, row.problem) << row.path;
    const std::string said = DescribePortFailure(port->LastOpenFailure());
    EXPECT_NE(said.find(row.text), std::string::npos) << row.path << ": " << said;
  }

  // The master side of a pseudo-terminal is the box's end.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  EXPECT_FALSE(port->OpenComPort("/proc/self/fd/" + std::to_string(master)));
  EXPECT_EQ(port->LastOpenFailure().kind, FailureKind::kWrongKind);
  ::close(master);

  // A port in use is busy for a second opener, root included (root ignores TIOCEXCL).
  Rig rig = MakeRig("pty");
  ASSERT_TRUE(rig.port->PortOpened());
  EXPECT_FALSE(port->OpenComPort(rig.slavePath));
  EXPECT_EQ(port->LastOpenFailure().kind, FailureKind::kBusy);
  EXPECT_TRUE(rig.port->PortOpened());
  rig.port->CloseComPort();
  EXPECT_TRUE(port->OpenComPort(rig.slavePath));
  EXPECT_EQ(port->LastOpenFailure().kind, FailureKind::kNone);
}

// Whether a port is in exclusive mode, as far as a look from here can tell: a refused open says so
// too (that is how the mode shows to all but root).
bool HeldExclusively(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno == EBUSY;
  int exclusive = 0;
  ::ioctl(fd, TIOCGEXCL, &exclusive);
  ::close(fd);
  return exclusive != 0;
}

// Another program holds the port in exclusive mode: it is refused, even to root, the holder is
// named, and the other program keeps its mode after the refusal and after a close of ours.
TEST(SystemPort, APortAnotherProgramHoldsExclusivelyIsRefusedAndLeftAsItWas) {
  Rig rig = MakeRig("pty");
  rig.port->CloseComPort();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = ::open(rig.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const char done = (fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0) ? 'y' : 'n';
    // The holder keeps the port alone, not the copy of the rig's master that came with the fork.
    for (int other = 3; other < 1024; ++other) {
      if (other != fd && other != ready[1]) ::close(other);
    }
    (void)!::write(ready[1], &done, 1);
    ::pause();
    ::_exit(0);
  }
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(done, 'y');

  auto port = MakeSystemComPort();
  EXPECT_FALSE(port->OpenComPort(rig.slavePath));
  EXPECT_EQ(port->LastOpenFailure().kind, FailureKind::kBusy);
  const std::string said = DescribePortFailure(port->LastOpenFailure());
  EXPECT_NE(said.find("pid " + std::to_string(holder)), std::string::npos) << said;
  port->CloseComPort();
  EXPECT_TRUE(HeldExclusively(rig.slavePath));

  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  // The mode outlives the program that set it while the rig's descriptor stays open; once it is
  // cleared, the port is ours, and our own mode goes with our close.
  EXPECT_TRUE(HeldExclusively(rig.slavePath));
  // Who set it is gone: nobody is named, least of all the far end that holds the pseudo-terminal
  // (this test, as the virtual box would be).
  EXPECT_FALSE(port->OpenComPort(rig.slavePath));
  const std::string unknown = DescribePortFailure(port->LastOpenFailure());
  EXPECT_NE(unknown.find("another program holds the port in exclusive mode"), std::string::npos)
      << unknown;
  EXPECT_EQ(unknown.find("pid "), std::string::npos) << unknown;
  port->CloseComPort();
  ASSERT_EQ(::ioctl(rig.slaveFd, TIOCNXCL), 0);
  ASSERT_TRUE(port->OpenComPort(rig.slavePath));
  EXPECT_TRUE(HeldExclusively(rig.slavePath));
  port->CloseComPort();
  EXPECT_FALSE(HeldExclusively(rig.slavePath));
}

// The line the port sets up: 115200 baud, eight data bits.
TEST(SystemPort, OpenSetsTheLineRateAndEightBits) {
  Rig rig = MakeRig("pty");
  ASSERT_TRUE(rig.port->PortOpened());
  termios line{};
  ASSERT_EQ(tcgetattr(rig.slaveFd, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
  EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t(CS8));
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
}  // namespace vn::testing
