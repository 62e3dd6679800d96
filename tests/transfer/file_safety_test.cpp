// What the transfers leave on disk when things go wrong: no backup destroyed before its
// replacement is complete, and no file written through a link someone planted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dld/byte_order.h"
#include "dld/inspect.h"
#include "dld/region_sets.h"
#include "sim/box_fault_option.h"
#include "tests_common.h"
#include "upload_checks.h"

namespace vn::testing {
namespace {

constexpr vn::Operation kKeySet = vn::Operation::kUploadKey;

TEST(UploadReplace, AFailedUploadLeavesTheOldFileAndKeepsWhatArrivedAsPartial) {
  for (const FaultStep step : {FaultStep::kDescriptor, FaultStep::kFrame}) {
    SCOPED_TRACE(FaultStepName(step));
    DriverSession session(BoxFaults{.vanishAt = step}, SampleFlashImage(31));
    ASSERT_TRUE(session.opened);
    const std::string file = session.scratch.Write("key.dld", kOldBackup);

    const LoopResult result = session.Run(kKeySet, file);

    EXPECT_FALSE(result.boxesDone);
    EXPECT_EQ(session.Statuses().back(), "Transfer failed!");
    EXPECT_EQ(ReadBytes(file), kOldBackup);
    const auto partial = ReadBytes(file + ".partial");
    ASSERT_GE(partial.size(), size_t(kHeaderSize));
    EXPECT_EQ(GetLe24(&partial[53]), 0u) << "a partial file must not look complete";
    EXPECT_FALSE(InspectUpgradeFile(partial).Sound());
    EXPECT_EQ(session.observer.Details(),
              std::vector<std::string>{"the data received so far is in " + file + ".partial"});
    // The header in memory is the partial file's, as after any failed upload.
    EXPECT_EQ(session.headerAfterRun.partitionCount, 1);
  }
}

// The window has no check of its own before Start: the upload refuses a target it could never
// replace before asking the box for anything.
TEST(UploadReplace, ATargetThatCannotBeReplacedIsRefusedBeforeTheBoxIsAsked) {
  DriverSession session(BoxFaults{}, SampleFlashImage(33));
  ASSERT_TRUE(session.opened);
  const std::string folder = session.scratch.File("backup.dld");
  std::filesystem::create_directory(folder);

  EXPECT_EQ(session.Run(kKeySet, folder).boxesDone, 0);

  EXPECT_EQ(session.Statuses().back(), "Can not open Upload file!");
  EXPECT_EQ(session.box.Stats().readRequests, 0);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_FALSE(std::filesystem::exists(folder + ".partial"));
}

TEST(UploadReplace, AnIdentityFailureLeavesNothingNew) {
  DriverSession session(BoxFaults{.badHeaderCrc = 1}, SampleFlashImage(32));
  ASSERT_TRUE(session.opened);
  const std::string file = session.scratch.Write("key.dld", kOldBackup);
  session.Run(kKeySet, file);
  EXPECT_EQ(session.Statuses().back(), "Ident check failed!");
  EXPECT_EQ(ReadBytes(file), kOldBackup);
  EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
}

TEST(UploadReplace, ASuccessReplacesTheFileKeepingItsModeAndAnyLinkToIt) {
  DriverSession session(BoxFaults{}, SampleFlashImage(33));
  ASSERT_TRUE(session.opened);
  const std::string real = session.scratch.Write("real.dld", kOldBackup);
  ::chmod(real.c_str(), 0640);
  const std::string stale = session.scratch.Write("real.dld.partial", {1, 2, 3});
  const std::string link = session.scratch.File("link.dld");
  std::filesystem::create_symlink("real.dld", link);

  ASSERT_EQ(session.Run(kKeySet, link).boxesDone, 1);

  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const auto bytes = ReadBytes(real);
  EXPECT_TRUE(InspectUpgradeFile(bytes).Sound());
  EXPECT_EQ(GetLe24(&bytes[53]), bytes.size());
  struct stat info;
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_FALSE(std::filesystem::exists(stale));
}

// Anyone who may write in the program's folder could plant a link under the scratch header's name.
TEST(ScratchHeader, APlantedLinkIsRemovedAndItsTargetLeftAlone) {
  for (bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    ScratchFolder elsewhere;
    const std::vector<uint8_t> precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    const std::string victim = elsewhere.Write("victim", precious);
    DriverSession session;
    ASSERT_TRUE(session.opened);
    const std::string planted = session.scratch.File("Test_DownloadHeader.bin");
    if (hard) {
      std::filesystem::create_hard_link(victim, planted);
    } else {
      std::filesystem::create_symlink(victim, planted);
    }
    const auto regions = UploadRegionList(kKeySet);
    const std::string file = session.scratch.Write(
        "key.dld", BuildUpgradeFile(regions, SampleFlashImage(34), LabBoxIdentity()));

    EXPECT_EQ(session.Run(Operation::kDownload, file).boxesDone, 1);

    EXPECT_EQ(ReadBytes(victim), precious);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(planted)));
  }
}

}  // namespace
}  // namespace vn::testing
