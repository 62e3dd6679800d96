// vespanode-cli download and upload against the virtual box: what they print and how they exit.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "dld/pack.h"
#include "dld/region_sets.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

const std::string kCli = OurProgram("vespanode-cli");

std::string PackedKeyFile(const ScratchFolder& folder, const FileIdentity& identity) {
  const auto regions = UploadRegionList(Operation::kUploadKey);
  return folder.Write("key.dld", BuildUpgradeFile(regions, SampleFlashImage(21), identity));
}

TEST(CliDownload, PrintsTheStatusTextsOneALineAndExitsZero) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::string file = PackedKeyFile(folder, LabBoxIdentity());

  // As the synopsis writes it: options after FILE too.
  const ChildResult run =
      RunChild(kCli, {"download", "--port", box.PtyPath(), file, "--boxes", "1"});

  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.OutLines(),
            (std::vector<std::string>{
                "Connectting...", "Connect Success!", "Verify...", "Ident check Success!",
                "Transfer...", "Transfering Data:  100%", "Transfer Success!", "Erase flash...",
                "Erase flash...  100%", "Erase flash Success!", "Program flash...",
                "Program flash...  100%", "Program flash Success!", "Update Success!"}));
}

// One download of a sound file against a box with `faults`.
ChildResult DownloadAgainstFaultyBox(const BoxFaults& faults) {
  BoxOptions options;
  options.faults = faults;
  VirtualBox box(options);
  if (!box.Start()) return {};
  ScratchFolder folder;
  return RunChild(kCli,
                  {"download", "--port", box.PtyPath(), PackedKeyFile(folder, LabBoxIdentity())});
}

TEST(CliDownload, AFailedBoxExitsOneWithItsFailureTextLast) {
  BoxFaults refusing;
  refusing.refuseIdentity = true;
  ChildResult run = DownloadAgainstFaultyBox(refusing);
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_FALSE(run.OutLines().empty());
  EXPECT_EQ(run.OutLines().back(), "Ident check failed!");

  // A pulled cable is a failed box, not an interrupt.
  BoxFaults vanishing;
  vanishing.vanishAt = FaultStep::kFrame;
  run = DownloadAgainstFaultyBox(vanishing);
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_FALSE(run.OutLines().empty());
  EXPECT_EQ(run.OutLines().back(), "Transfer failed!");
  EXPECT_NE(run.err.find("went away"), std::string::npos) << run.err;
}

TEST(CliDownload, BadInputExitsTwoBeforeTouchingABox) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  std::vector<uint8_t> corrupt = ReadBytes(PackedKeyFile(folder, LabBoxIdentity()));
  corrupt[corrupt.size() - 1] ^= 0xFF;  // the data block's CRC
  const std::string corruptFile = folder.Write("corrupt.dld", corrupt);

  ChildResult run = RunChild(kCli, {"download", "--port", box.PtyPath(), corruptFile});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("data block 1"), std::string::npos) << run.err;

  run = RunChild(kCli, {"download", "--port", box.PtyPath(), folder.File("absent.dld")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_FALSE(run.err.empty());

  run = RunChild(kCli, {"download", "--port", folder.File("no-such-port"),
                        PackedKeyFile(folder, LabBoxIdentity())});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("cannot open port"), std::string::npos) << run.err;

  run = RunChild(kCli, {"download", "--port", box.PtyPath()});
  EXPECT_EQ(run.exitCode, 2) << "usage error";
  run = RunChild(kCli, {"upload", "--port", box.PtyPath(), "--set", "key", ""});
  EXPECT_EQ(run.exitCode, 2) << "an empty FILE names nothing";
  EXPECT_EQ(box.Stats().sessionsStarted, 0);
}

TEST(CliUpload, KeepsAnExistingFileUnlessForced) {
  BoxOptions options;
  options.flash = SampleFlashImage(22);
  VirtualBox box(options);
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::string file = folder.Write("mine.dld", {1, 2, 3});

  ChildResult run = RunChild(kCli, {"upload", "--port", box.PtyPath(), "--set", "key", file});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t>{1, 2, 3}));

  run = RunChild(kCli, {"upload", "--port", box.PtyPath(), "--set", "key", file, "--force"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.OutLines().back(), "Update Success!");
  EXPECT_GT(ReadBytes(file).size(), size_t(kHeaderSize));

  run = RunChild(kCli, {"upload", "--port", box.PtyPath(), "--set", "bogus", folder.File("x.dld")});
  EXPECT_EQ(run.exitCode, 2);
  // A folder in place of the file is bad input, found before the box is asked for anything.
  run =
      RunChild(kCli, {"upload", "--port", box.PtyPath(), "--set", "key", folder.Path(), "--force"});
  EXPECT_EQ(run.exitCode, 2);
}

// A port with nobody on the other end: the tool waits for a box until it is told to stop.
class SilentLine {
 public:
  SilentLine() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
      termios raw{};
      tcgetattr(slave_, &raw);
      cfmakeraw(&raw);
      tcsetattr(slave_, TCSANOW, &raw);
      path_ = name;
    }
  }
  ~SilentLine() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  const std::string& Path() const { return path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

TEST(CliSignals, InterruptOrTerminateStopsTheWaitWithoutSuccess) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    SilentLine line;
    ASSERT_FALSE(line.Path().empty());
    ScratchFolder folder;
    ChildOptions options;
    options.timeout = std::chrono::seconds(20);
    options.onLine = [signal](const std::string& text, int pid) {
      if (text == "Connectting...") kill(pid, signal);
    };
    const ChildResult run = RunChild(kCli,
                                     {"download", "--port", line.Path(), "--boxes", "0",
                                      PackedKeyFile(folder, LabBoxIdentity())},
                                     options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.out.find("Update Success!"), std::string::npos);
  }
}

TEST(CliSignals, InterruptDuringAnUploadLeavesNoCompletedFile) {
  BoxOptions boxOptions;
  boxOptions.flash = SampleFlashImage(23);
  boxOptions.pace = true;
  VirtualBox box(boxOptions);
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::string file = folder.File("data.dld");
  ChildOptions options;
  options.onLine = [](const std::string& text, int pid) {
    if (text == "Transfer...") kill(pid, SIGINT);
  };
  const ChildResult run =
      RunChild(kCli, {"upload", "--port", box.PtyPath(), "--set", "data", file}, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(run.out.find("Update Success!"), std::string::npos);
  const auto bytes = ReadBytes(file);
  if (bytes.size() >= size_t(kHeaderSize)) {
    EXPECT_EQ(bytes[53] | bytes[54] | bytes[55], 0) << "total size written for a partial file";
  }
}

}  // namespace
}  // namespace vn::testing
