// The fault matrix: every fault the virtual box can inject, in each direction and at each step,
// against the operation driver over a pseudo-terminal. Each row must end recovered and
// successful, or failed with its step's text, or (where the tool waits for the box without a time
// limit) stopped by the user. Never in a success reported for a failure, a lost backup, or a file
// whose bytes differ from the box's.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "dld/byte_order.h"
#include "dld/inspect.h"
#include "dld/pack.h"
#include "tests_common.h"
#include "upload_checks.h"

namespace vn::testing {
namespace {

constexpr int kDefaultSet = 2;  // two regions: a failure report for one of them is survivable
constexpr int kKeySet = 3;      // one region: a single failure report is fatal
// A wait without a time limit counts as ended by the user after this; a wait that ends by itself
// sooner must end with its step's failure text.
constexpr std::chrono::seconds kUserPatience{2};

enum class Ending { kSucceeds, kFails, kWaitsForStop };

struct FaultRow {
  const char* name;
  int set;
  void (*inject)(BoxFaults&);
  Ending ending;
  std::vector<std::string> failureTexts;  // the acceptable last status texts of a failure
};

std::string RowName(const ::testing::TestParamInfo<FaultRow>& info) {
  return info.param.name;
}
void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.name;
}

std::vector<UploadRegion> Regions(int set) {
  const auto list = UploadRegionList(set);
  return {list.begin(), list.end()};
}

bool SuccessShown(const std::vector<std::string>& texts) {
  return std::count(texts.begin(), texts.end(), "Update Success!") > 0;
}

// What every row must satisfy, whatever the fault; true when the run succeeded.
bool ExpectRowEnding(const FaultRow& row, DriverSession& session, const LoopResult& result) {
  const auto texts = session.Statuses();
  EXPECT_FALSE(texts.empty());
  if (texts.empty()) return false;
  // A vanished port ends the loop as stopped rather than failed; the command line tells the two
  // apart by the port.
  const bool failedWithItsText =
      (result.failed || result.stopped) &&
      std::count(row.failureTexts.begin(), row.failureTexts.end(), texts.back());
  switch (row.ending) {
    case Ending::kSucceeds:
      EXPECT_EQ(result.boxesDone, 1) << texts.back();
      EXPECT_FALSE(session.hung);
      return result.boxesDone == 1;
    case Ending::kFails:
      EXPECT_TRUE(failedWithItsText) << texts.back();
      EXPECT_FALSE(session.hung);
      break;
    case Ending::kWaitsForStop:
      EXPECT_TRUE((session.hung && result.stopped) || failedWithItsText) << texts.back();
      break;
  }
  EXPECT_EQ(result.boxesDone, 0);
  EXPECT_FALSE(SuccessShown(texts));
  return false;
}

void Silent(BoxFaults& faults, const char* step) {
  faults.silentAt = step;
}
void Vanish(BoxFaults& faults, const char* step) {
  faults.vanishAt = step;
}

const std::vector<std::string> kIdentFailed = {"Ident check failed!"};
const std::vector<std::string> kTransferFailed = {"Transfer failed!"};
const std::vector<std::string> kEraseFailed = {"Erase flash failed!"};
const std::vector<std::string> kProgramFailed = {"Program flash failed!"};
// A box that vanishes right after its last answer of a phase may take that answer with it.
const std::vector<std::string> kTransferOrEraseFailed = {"Transfer failed!", "Erase flash failed!"};
const std::vector<std::string> kEraseOrProgramFailed = {"Erase flash failed!",
                                                        "Program flash failed!"};

class DownloadFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(DownloadFault, EndsRecoveredOrFailedAndNeverFalselySucceeds) {
  const FaultRow& row = GetParam();
  BoxOptions options;
  row.inject(options.faults);
  DriverSession session(options);
  ASSERT_TRUE(session.opened);
  const auto image = SampleFlashImage(60);
  const std::string file = session.scratch.Write(
      "firmware.dld", BuildUpgradeFile(Regions(row.set), image, BoxMatchingIdentity()));
  const auto guard = row.ending == Ending::kWaitsForStop ? kUserPatience : std::chrono::seconds(60);

  const LoopResult result = session.Run(kOperationDownload, file, 1, guard);

  if (!ExpectRowEnding(row, session, result)) return;
  ASSERT_TRUE(session.BoxFinished(1));
  const auto flash = session.box.FlashCopy();
  for (const UploadRegion& region : Regions(row.set)) {
    EXPECT_EQ(RegionOfImage(flash, region.address, region.size),
              RegionOfImage(image, region.address, region.size));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, DownloadFault,
    ::testing::Values(
        FaultRow{"FrameNakedOnce",
                 kDefaultSet,
                 [](BoxFaults& f) { f.nakFrame = 1; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"FrameNakedNineTimes",
                 kDefaultSet,
                 [](BoxFaults& f) { f.nakFrame = 3, f.nakFrameTimes = 9; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"FrameNakedTenTimes", kDefaultSet,
                 [](BoxFaults& f) { f.nakFrame = 3, f.nakFrameTimes = 10; }, Ending::kFails,
                 kTransferFailed},
        FaultRow{"HeaderAckLost",
                 kDefaultSet,
                 [](BoxFaults& f) { f.dropAck = 1; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"DescriptorAckLost",
                 kDefaultSet,
                 [](BoxFaults& f) { f.dropAck = 2; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"FrameAckLost",
                 kDefaultSet,
                 [](BoxFaults& f) { f.dropAck = 3; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"HeaderAlwaysNaked", kDefaultSet, [](BoxFaults& f) { f.nakHeaderAlways = 1; },
                 Ending::kWaitsForStop, kIdentFailed},
        FaultRow{"GarbageBeforeReady",
                 kDefaultSet,
                 [](BoxFaults& f) { f.garbageBeforeReady = true; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"IdentityRefused", kDefaultSet, [](BoxFaults& f) { f.refuseIdentity = true; },
                 Ending::kFails, kIdentFailed},
        FaultRow{"OneOfTwoErasesFails",
                 kDefaultSet,
                 [](BoxFaults& f) { f.eraseFailAt = 1; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"TheOnlyEraseFails", kKeySet, [](BoxFaults& f) { f.eraseFailAt = 1; },
                 Ending::kFails, kEraseFailed},
        FaultRow{"OneOfTwoProgramsFails",
                 kDefaultSet,
                 [](BoxFaults& f) { f.programFailAt = 2; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"TheOnlyProgramFails", kKeySet, [](BoxFaults& f) { f.programFailAt = 1; },
                 Ending::kFails, kProgramFailed},
        FaultRow{"SilentAtStart", kDefaultSet, [](BoxFaults& f) { Silent(f, "start"); },
                 Ending::kWaitsForStop, kIdentFailed},
        FaultRow{"SilentAtHeader", kDefaultSet, [](BoxFaults& f) { Silent(f, "header"); },
                 Ending::kWaitsForStop, kIdentFailed},
        FaultRow{"SilentAtVerdict", kDefaultSet, [](BoxFaults& f) { Silent(f, "verdict"); },
                 Ending::kWaitsForStop, kIdentFailed},
        FaultRow{"SilentAtDescriptor", kDefaultSet, [](BoxFaults& f) { Silent(f, "descriptor"); },
                 Ending::kWaitsForStop, kTransferFailed},
        FaultRow{"SilentAtFrame", kDefaultSet, [](BoxFaults& f) { Silent(f, "frame"); },
                 Ending::kWaitsForStop, kTransferFailed},
        FaultRow{"SilentAtErase", kDefaultSet, [](BoxFaults& f) { Silent(f, "erase"); },
                 Ending::kWaitsForStop, kEraseFailed},
        FaultRow{"SilentAtProgram", kDefaultSet, [](BoxFaults& f) { Silent(f, "program"); },
                 Ending::kWaitsForStop, kProgramFailed},
        FaultRow{"VanishesAtStart", kDefaultSet, [](BoxFaults& f) { Vanish(f, "start"); },
                 Ending::kFails, kIdentFailed},
        FaultRow{"VanishesAtHeader", kDefaultSet, [](BoxFaults& f) { Vanish(f, "header"); },
                 Ending::kFails, kIdentFailed},
        FaultRow{"VanishesAtVerdict", kDefaultSet, [](BoxFaults& f) { Vanish(f, "verdict"); },
                 Ending::kFails, kIdentFailed},
        FaultRow{"VanishesAtDescriptor", kDefaultSet, [](BoxFaults& f) { Vanish(f, "descriptor"); },
                 Ending::kFails, kTransferFailed},
        FaultRow{"VanishesAtFrame", kDefaultSet, [](BoxFaults& f) { Vanish(f, "frame"); },
                 Ending::kFails, kTransferFailed},
        FaultRow{"VanishesAtErase", kDefaultSet, [](BoxFaults& f) { Vanish(f, "erase"); },
                 Ending::kFails, kTransferOrEraseFailed},
        FaultRow{"VanishesAtProgram", kDefaultSet, [](BoxFaults& f) { Vanish(f, "program"); },
                 Ending::kFails, kEraseOrProgramFailed}),
    RowName);

class UploadFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(UploadFault, EndsRecoveredOrFailedAndNeverLosesTheOldBackup) {
  const FaultRow& row = GetParam();
  BoxOptions options;
  options.flash = SampleFlashImage(61);
  row.inject(options.faults);
  DriverSession session(options);
  ASSERT_TRUE(session.opened);
  const std::vector<uint8_t> oldBackup = {0x11, 0x44, 0x00, 'o', 'l', 'd'};
  const std::string file = session.scratch.Write("backup.dld", oldBackup);
  const auto guard = row.ending == Ending::kWaitsForStop ? kUserPatience : std::chrono::seconds(60);

  const LoopResult result = session.Run(row.set, file, 1, guard);

  if (ExpectRowEnding(row, session, result)) {
    ExpectSoundUpload(ReadFileBytes(file), row.set, session.box.FlashCopy());
    return;
  }
  EXPECT_EQ(ReadFileBytes(file), oldBackup);
  const std::string partial = file + ".partial";
  if (std::filesystem::exists(partial)) {
    const auto bytes = ReadFileBytes(partial);
    EXPECT_FALSE(InspectUpgradeFile(bytes).Sound()) << "a partial file passes for a backup";
    if (bytes.size() >= size_t(kHeaderSize)) {
      EXPECT_EQ(GetLe24(HeaderOf(bytes).totalSize), 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, UploadFault,
    ::testing::Values(
        FaultRow{"FrameCorrupted",
                 kDefaultSet,
                 [](BoxFaults& f) { f.corruptFrame = 2; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"FrameComplementWrong",
                 kDefaultSet,
                 [](BoxFaults& f) { f.badComplementFrame = 3; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"DescriptorCrcWrong",
                 kDefaultSet,
                 [](BoxFaults& f) { f.badDescriptorCrc = 2; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"HeaderCrcWrong", kDefaultSet, [](BoxFaults& f) { f.badHeaderCrc = 1; },
                 Ending::kFails, kIdentFailed},
        FaultRow{"AckedFrameResent", kDefaultSet, [](BoxFaults& f) { f.resendAckedFrame = 2; },
                 Ending::kFails, kTransferFailed},
        FaultRow{"RequestAckLost",
                 kDefaultSet,
                 [](BoxFaults& f) { f.dropAck = 1; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"GarbageBeforeReady",
                 kKeySet,
                 [](BoxFaults& f) { f.garbageBeforeReady = true; },
                 Ending::kSucceeds,
                 {}},
        FaultRow{"SilentAtStart", kDefaultSet, [](BoxFaults& f) { Silent(f, "start"); },
                 Ending::kWaitsForStop, kIdentFailed},
        FaultRow{"SilentAtHeader", kDefaultSet, [](BoxFaults& f) { Silent(f, "header"); },
                 Ending::kWaitsForStop, kIdentFailed},
        FaultRow{"SilentAtRequest", kDefaultSet, [](BoxFaults& f) { Silent(f, "request"); },
                 Ending::kWaitsForStop, kTransferFailed},
        FaultRow{"SilentAtDescriptor", kDefaultSet, [](BoxFaults& f) { Silent(f, "descriptor"); },
                 Ending::kWaitsForStop, kTransferFailed},
        FaultRow{"SilentAtFrame", kDefaultSet, [](BoxFaults& f) { Silent(f, "frame"); },
                 Ending::kWaitsForStop, kTransferFailed},
        FaultRow{"VanishesAtStart", kDefaultSet, [](BoxFaults& f) { Vanish(f, "start"); },
                 Ending::kFails, kIdentFailed},
        FaultRow{"VanishesAtHeader", kDefaultSet, [](BoxFaults& f) { Vanish(f, "header"); },
                 Ending::kFails, kIdentFailed},
        FaultRow{"VanishesAtVerdict", kDefaultSet, [](BoxFaults& f) { Vanish(f, "verdict"); },
                 Ending::kFails, kTransferFailed},
        FaultRow{"VanishesAtRequest", kDefaultSet, [](BoxFaults& f) { Vanish(f, "request"); },
                 Ending::kFails, kTransferFailed},
        FaultRow{"VanishesAtDescriptor", kDefaultSet, [](BoxFaults& f) { Vanish(f, "descriptor"); },
                 Ending::kFails, kTransferFailed},
        FaultRow{"VanishesAtFrame", kDefaultSet, [](BoxFaults& f) { Vanish(f, "frame"); },
                 Ending::kFails, kTransferFailed}),
    RowName);

// The box's wrong first frame and its ready frame take turns, so which one a connect meets
// depends on timing: every connect must either go on to a success or end in "Connect failed!".
TEST(ConnectFault, AWrongFirstFrameFailsTheConnectAndNothingElse) {
  BoxOptions options;
  options.faults.nonReadyFirst = true;
  DriverSession session(options);
  ASSERT_TRUE(session.opened);
  const std::string file = session.scratch.Write(
      "key.dld", BuildUpgradeFile(Regions(kKeySet), SampleFlashImage(62), BoxMatchingIdentity()));
  bool connectFailed = false;
  for (int attempt = 0; attempt < 8 && !connectFailed; ++attempt) {
    session.observer.Clear();
    const LoopResult result = session.Run(kOperationDownload, file);
    const auto texts = session.Statuses();
    ASSERT_FALSE(texts.empty());
    if (result.failed) {
      EXPECT_EQ(texts, (std::vector<std::string>{"Connectting...", "Connect failed!"}));
      connectFailed = true;
    } else {
      EXPECT_EQ(texts.back(), "Update Success!");
    }
  }
  EXPECT_TRUE(connectFailed);
}

// A file swapped on disk between the choice and Start: the box hears the header chosen and gets
// the partitions on disk at Start, each whole and checked by the box.
TEST(FileFault, ADownloadFileReplacedAfterItWasChosenSendsTheHeaderChosen) {
  DriverSession session;
  ASSERT_TRUE(session.opened);
  const std::string file = session.scratch.Write(
      "key.dld", BuildUpgradeFile(Regions(kKeySet), SampleFlashImage(63), BoxMatchingIdentity()));
  FileIdentity stranger = BoxMatchingIdentity();
  stranger.hardwareModule = "OTHER";
  session.afterChoose = [&] {
    session.scratch.Write("key.dld",
                          BuildUpgradeFile(Regions(kKeySet), SampleFlashImage(64), stranger));
  };
  // The header chosen matched the box; the one on disk now would be refused.
  EXPECT_EQ(session.Run(kOperationDownload, file).boxesDone, 1);
}

// The window's file dialog lets a FIFO through; opening it to read must not wait for a writer.
TEST(FileFault, AFifoChosenForDownloadFailsAtOnce) {
  DriverSession session;
  ASSERT_TRUE(session.opened);
  const std::string fifo = session.scratch.File("pipe.dld");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const LoopResult result = session.Run(kOperationDownload, fifo);
  EXPECT_TRUE(result.failed);
  EXPECT_FALSE(session.hung);
  EXPECT_EQ(session.Statuses().back(), "Ident check failed!");
}

}  // namespace
}  // namespace vn::testing
