// vespanode-box as a program, and the announcements through which the window finds it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "link/box_announce.h"
#include "mini_pc.h"
#include "platform/processes.h"
#include "sim/box_fault_option.h"
#include "sim/box_session.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

namespace fs = std::filesystem;

// A scratch folder that holds the announcement folder for the test, for this process and the
// programs it starts.
struct ScratchRuntime : ScratchFolder {
  const RuntimeFolderAt announcedHere{Path()};
};

TEST(BoxAnnounce, ListsLiveBoxesAndForgetsTheOthers) {
  ScratchRuntime scratch;
  EXPECT_EQ(PrivateRuntimeFolder(), scratch.Path() + "/vespanode");
  EXPECT_TRUE(ListAnnouncedBoxes().empty());  // no folder yet

  ASSERT_TRUE(AnnounceBox("/dev/null"));
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string box = PrivateRuntimeFolder() + "/box-";
  std::ofstream(box + std::to_string(dead)) << "/dev/zero\n";              // its process is gone
  std::ofstream(box + std::to_string(getppid())) << "/dev/no-such-pty\n";  // its path is gone
  EXPECT_EQ(ListAnnouncedBoxes(), std::vector<std::string>{"/dev/null"});
  EXPECT_FALSE(fs::exists(box + std::to_string(dead)));
  EXPECT_FALSE(fs::exists(box + std::to_string(getppid())));
  WithdrawBox();
  EXPECT_TRUE(ListAnnouncedBoxes().empty());
}

// What a name in the scratch folder holds, to tell that nothing outside the folder changed.
std::string Snapshot(const std::string& folder) {
  std::string seen;
  std::error_code error;
  seen += std::to_string(int(fs::symlink_status(folder, error).permissions()));
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    std::string text;
    std::getline(std::ifstream(entry.path()), text);
    seen += " " + entry.path().filename().string() + "=" + text;
  }
  return seen;
}

// Names others could plant where the announcements live: the box refuses a folder that is not
// its user's own private one, never writes through a link, and readers list only regular files
// in a private folder, without waiting on any of them. Another folder and file stand for what
// others own; they must come out unchanged.
TEST(BoxAnnounce, TrustsOnlyAPrivateFolderAndRegularFiles) {
  const std::string parent = "box-" + std::to_string(getppid());  // a live process
  const std::string own = "box-" + std::to_string(getpid());
  struct Row {
    const char* what;
    std::function<void(const std::string& folder, const std::string& victim)> plant;
    bool announces;
    bool rootOnly = false;  // only root can give a folder away
  };
  const auto privateFolder = [](const std::string& folder) {
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  };
  const auto announced = [&](const std::string& folder) {
    std::ofstream(folder + "/" + parent) << "/dev/zero\n";
  };
  const Row rows[] = {
      {"folder is a link to another folder",
       [&](const std::string& folder, const std::string& victim) {
         ASSERT_EQ(symlink(victim.c_str(), folder.c_str()), 0);
       },
       false},
      {"folder open to others",
       [&](const std::string& folder, const std::string&) {
         privateFolder(folder);
         ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
         announced(folder);
       },
       false},
      {"folder of another user",
       [&](const std::string& folder, const std::string&) {
         privateFolder(folder);
         announced(folder);
         ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
       },
       false, true},
      {"announcement is a FIFO",
       [&](const std::string& folder, const std::string&) {
         privateFolder(folder);
         ASSERT_EQ(mkfifo((folder + "/" + parent).c_str(), 0600), 0);
       },
       true},
      {"announcement is a link to another file",
       [&](const std::string& folder, const std::string& victim) {
         privateFolder(folder);
         ASSERT_EQ(symlink((victim + "/" + parent).c_str(), (folder + "/" + parent).c_str()), 0);
       },
       true},
      {"staging file is a link to another file",
       [&](const std::string& folder, const std::string& victim) {
         privateFolder(folder);
         const std::string staging = folder + "/" + own + ".new";
         ASSERT_EQ(symlink((victim + "/keep").c_str(), staging.c_str()), 0);
       },
       true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.rootOnly && getuid() != 0) continue;
    ScratchRuntime scratch;
    const std::string victim = scratch.File("others");
    ASSERT_EQ(mkdir(victim.c_str(), 0755), 0);
    std::ofstream(victim + "/keep") << "keep\n";
    std::ofstream(victim + "/" + parent) << "/dev/zero\n";
    row.plant(PrivateRuntimeFolder(), victim);
    const std::string before = Snapshot(victim);

    auto listing = std::async(std::launch::async, [] { return ListAnnouncedBoxes(); });
    if (listing.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "the listing waits on an announcement";
      // A writer lets a reader blocked on the FIFO go.
      close(open((PrivateRuntimeFolder() + "/" + parent).c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_TRUE(listing.get().empty());

    Failure why;
    EXPECT_EQ(AnnounceBox("/dev/null", &why), row.announces) << FailureText(why);
    EXPECT_EQ(row.announces, !why.Failed()) << FailureText(why);
    EXPECT_EQ(Snapshot(victim), before);
    WithdrawBox();
  }
}

TEST(BoxFaultOption, ReadsSwitchesCountsAndSteps) {
  BoxFaults faults;
  std::string error;
  for (const char* right :
       {"nak-frame=3", "bad-header-crc", "garbage-before-ready", "vanish-at=erase",
        "back-to-back=program", "stall-read=150", "damage-received=answer",
        "flip-after-program=0x40180123", "short-region=2"}) {
    EXPECT_TRUE(ApplyFaultOption(right, faults, error)) << right << ": " << error;
  }
  EXPECT_EQ(faults.backToBack, FaultStep::kProgram);
  EXPECT_EQ(faults.stallRead, std::chrono::milliseconds(150));
  EXPECT_EQ(faults.nakFrame, 3);
  EXPECT_EQ(faults.badHeaderCrc, 1);
  EXPECT_TRUE(faults.garbageBeforeReady);
  EXPECT_EQ(faults.vanishAt, FaultStep::kErase);
  EXPECT_EQ(faults.damageReceived, FaultStep::kAnswer);
  EXPECT_EQ(faults.flipAfterProgram, 0x40180123u);
  EXPECT_EQ(faults.shortRegion, 2);
  for (const char* wrong : {"nak-frame=0", "nak-frame=2x", "silent-at=later", "refuse-identity=1",
                            "no-such-fault", "back-to-back=start", "stall-read", "stall-read=0",
                            "damage-received=erase", "silent-at=answer", "silent-at=",
                            "flip-after-program", "flip-after-program=0x3FFFFFFF",
                            "flip-after-program=0x40200000", "flip-after-program=0x4018z",
                            "nak-frame", "drop-ack-times"}) {
    EXPECT_FALSE(ApplyFaultOption(wrong, faults, error)) << wrong;
    EXPECT_FALSE(error.empty());
  }
}

// With a trace too, whose writer starts before the box takes its stop requests. SIGHUP is a
// closed terminal: a link left behind would lead the next download to another box.
TEST(BoxTool, AnnouncesItselfAndCleansUpOnIntTermOrHup) {
  for (const auto& [signal, traced] : {std::pair{SIGINT, false},
                                       {SIGTERM, false},
                                       {SIGHUP, false},
                                       {SIGINT, true},
                                       {SIGTERM, true},
                                       {SIGHUP, true}}) {
    SCOPED_TRACE(std::to_string(signal) + (traced ? " traced" : ""));
    ScratchRuntime scratch;
    const std::string link = scratch.File("port");
    std::vector<std::string> args{"--link", link};
    if (traced) args.insert(args.end(), {"--trace", scratch.File("box.trace")});
    bool announced = false, linked = false;
    const ChildResult result = RunBox(args, [&, signal](const std::string& pty, int pid) {
      const auto boxes = ListAnnouncedBoxes();
      announced = std::find(boxes.begin(), boxes.end(), pty) != boxes.end();
      std::error_code error;
      linked = fs::read_symlink(link, error) == pty;
      MiniPc pc(link);
      EXPECT_TRUE(IsCommand(pc.Read(kCommandFrameSize), kCodeReady, 0));
      kill(pid, signal);
    });
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_FALSE(Lines(result.out).empty());
    EXPECT_TRUE(Lines(result.out)[0].starts_with("pty: /dev/pts/"));
    EXPECT_TRUE(announced);
    EXPECT_TRUE(linked);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_TRUE(ListAnnouncedBoxes().empty());
  }
}

TEST(BoxTool, SavesTheImageAfterADownloadAndStopsAfterItsSessions) {
  ScratchRuntime scratch;
  const std::string saved = scratch.File("saved.img");
  const PackedPartition partition = Pack(0x40180000, SampleFlashImage(21, 0x3000));
  bool served = false;
  const ChildResult result =
      RunBox({"--sessions", "1", "--save-flash", saved}, [&](auto& pty, int) {
        MiniPc pc(pty);
        served = pc.Connect(kCodeDownload) &&
                 SendPartitions(pc, HeaderFor(LabBoxIdentity(), 1), {partition}) &&
                 IsCommand(pc.Read(kCommandFrameSize), kCodeErase, 1) &&
                 IsCommand(pc.Read(kCommandFrameSize), kCodeProgram, 1);
      });
  EXPECT_TRUE(served);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("session 1: download"), std::string::npos) << result.err;
  const std::vector<uint8_t> image = ReadBytes(saved);
  ASSERT_EQ(image.size(), kFlashSize);
  EXPECT_EQ(RegionOfImage(image, 0x40180000, 0x3000), partition.contents);
  EXPECT_EQ(RegionOfImage(image, 0x40000000, 0x100), std::vector<uint8_t>(0x100, 0xFF));
}

// The box insists on the answers the PC owes it: a header left unanswered fails the session in
// the box's log and in its exit status.
TEST(BoxTool, AnAnswerThePcNeverGaveFailsTheBox) {
  const ChildResult result = RunBox(
      {},
      [&](const std::string& pty, int pid) {
        MiniPc pc(pty);
        EXPECT_TRUE(pc.Connect(kCodeUpload));
        EXPECT_EQ(pc.Read(kHeaderSize).size(), size_t(kHeaderSize));
        // No ACK: the box gives up after the PC's longest silence, and announces itself again once
        // the session is over.
        EXPECT_TRUE(IsCommand(pc.Read(kCommandFrameSize, kPcSilence * 5), kCodeReady, 0));
        kill(pid, SIGTERM);
      },
      std::chrono::seconds(60));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("session 1: abandoned: the PC never answered the header"),
            std::string::npos)
      << result.err;
}

// Refused at once, before the box serves anyone: a --save-flash that could never take the image
// too, not after the first download.
TEST(BoxTool, RefusesAnUnknownFaultAnIdentityTooLongOrATraceItCannotWrite) {
  ScratchFolder folder;
  const std::string image = folder.File("flash.img");
  const std::string fifo = folder.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string readOnly = folder.Write("read-only.img", {0xFF});
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  ChildOptions bound;
  bound.timeout = std::chrono::seconds(10);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--fault", "nak-everything"},
        {"--fault", "nak-frame"},
        {"--fault", "nak-frame=2", "--fault", "nak-frame=3"},
        {"--fault", "refuse-identity", "--fault", "refuse-identity"},
        {"--hardware-module", "TOO-LONG-1"},
        {"--trace", folder.Path()},
        {"--save-flash", image, "--trace", image},
        {"--save-flash", folder.Path()},
        {"--save-flash", fifo},
        {"--save-flash", "/dev/null"},
        {"--save-flash", readOnly},
        {"--save-flash", ""},
        {"--flash", ""},
        {"--link", ""},
        {"--sessions", "-1"},
        {"--sessions", "1.5"},
        {"--erase-ms", "1.5"},
        {"--program-ms", "-1"}}) {
    const ChildResult run = RunChild(OurProgram("vespanode-box"), args, bound);
    EXPECT_FALSE(run.timedOut) << args[0] << " " << args[1];
    EXPECT_EQ(run.exitCode, 2) << args[0] << " " << args[1];
    // In a few words that say what is wrong, be it a number out of its range.
    EXPECT_LT(run.err.size(), 200u) << run.err;
    EXPECT_EQ(run.err.find("not in range"), std::string::npos) << run.err;
    EXPECT_FALSE(run.out.starts_with("pty: ")) << "the box was started";
  }
  EXPECT_FALSE(fs::exists(image));
}

}  // namespace
}  // namespace vn::testing
