// What the transfers leave on disk when things go wrong: no backup destroyed before its
// replacement is complete, and no file written through a link someone planted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver_session.h"
#include "sim/box_fault_option.h"

namespace vn::testing {
namespace {

constexpr vn::Operation kKeySet = vn::Operation::kUploadKey;

// A failed or stopped upload leaves the old file as it was and keeps what arrived as a partial
// file that cannot pass for a backup; a refused identity leaves nothing new at all.
TEST(UploadReplace, AFailedUploadLeavesTheOldFileAndKeepsWhatArrivedAsPartial) {
  const struct {
    const char* name;
    BoxFaults faults;
    const char* stopAt;  // a status text at which the user stops the run
    const char* lastText;
    bool partial;
  } rows[] = {
      {"vanished at a descriptor",
       {.vanishAt = FaultStep::kDescriptor},
       "",
       "Transfer failed!",
       true},
      {"vanished at a frame", {.vanishAt = FaultStep::kFrame}, "", "Transfer failed!", true},
      {"stopped midway", {}, "Transfering Data:  50%", "Transfer failed!", true},
      {"identity refused", {.badHeaderCrc = 1}, "", "Ident check failed!", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DriverSession session(row.faults, SampleFlashImage(31));
    const std::string file = session.scratch.Write("key.dld", kOldBackup);
    session.observer.SetStatusHook([&](const std::string& text) {
      if (text == row.stopAt) session.station.RequestStop();
    });
    const Operation set = *row.stopAt ? Operation::kUploadDefault : kKeySet;

    const LoopResult result = session.Run(set, file);

    EXPECT_EQ(result.boxesDone, 0);
    EXPECT_EQ(result.end == LoopEnd::kStopped, *row.stopAt != 0);
    const auto texts = session.Statuses();
    EXPECT_EQ(texts.back(), row.lastText);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Update Success!"), 0);
    EXPECT_EQ(ReadBytes(file), kOldBackup);
    if (!row.partial) {
      EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
      continue;
    }
    const auto partial = ReadBytes(file + ".partial");
    ASSERT_GE(partial.size(), size_t(kHeaderSize));
    EXPECT_FALSE(PassesForABackup(partial)) << "a partial file must not look complete";
    EXPECT_EQ(session.observer.Details(),
              std::vector<std::string>{"the data received so far is in " + file + ".partial"});
    // The header in memory is the partial file's, as after any failed upload.
    EXPECT_EQ(session.headerAfterRun.partitionCount, PartitionCountOfOperation(set));
  }
}

// The window has no check of its own before Start: the upload refuses a target it could never
// create or replace (in a missing folder, or a folder itself) before asking the box for anything.
TEST(UploadReplace, ATargetThatCannotBeReplacedIsRefusedBeforeTheBoxIsAsked) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "a folder" : "in a missing folder");
    DriverSession session(BoxFaults{}, SampleFlashImage(33));
    const std::string target = session.scratch.File(folder ? "backup.dld" : "missing/key.dld");
    if (folder) std::filesystem::create_directory(target);

    const LoopResult result = session.Run(kKeySet, target);

    EXPECT_EQ(result.end, LoopEnd::kFailed);
    EXPECT_EQ(result.boxesDone, 0);
    EXPECT_EQ(session.Statuses().back(), "Can not open Upload file!");
    EXPECT_EQ(session.box.Stats().sessionsStarted, 0);
    EXPECT_EQ(std::filesystem::is_directory(target), folder);
    EXPECT_FALSE(std::filesystem::exists(target + ".partial"));
  }
}

TEST(UploadReplace, ASuccessReplacesTheFileKeepingItsModeAndAnyLinkToIt) {
  DriverSession session(BoxFaults{}, SampleFlashImage(33));
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
    const std::string planted = session.scratch.File("Test_DownloadHeader.bin");
    if (hard) {
      std::filesystem::create_hard_link(victim, planted);
    } else {
      std::filesystem::create_symlink(victim, planted);
    }
    const std::string file = session.PackedSet(kKeySet, 34);

    EXPECT_EQ(session.Run(Operation::kDownload, file).boxesDone, 1);

    EXPECT_EQ(ReadBytes(victim), precious);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(planted)));
  }
}

}  // namespace
}  // namespace vn::testing
