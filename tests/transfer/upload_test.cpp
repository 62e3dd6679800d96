// Uploads against the virtual box over a pseudo-terminal.
#include <gtest/gtest.h>

#include "dld/crc32.h"
#include "driver_session.h"
#include "link/wire_format.h"

namespace vn::testing {
namespace {

// Every set gives a sound file of exactly its regions; the default set's texts are shown.
TEST(Upload, EverySetGivesASoundFileOfExactlyItsRegions) {
  DriverSession session(BoxFaults{}, SampleFlashImage(12));
  for (const RegionSet& set : UploadSets()) {
    SCOPED_TRACE(std::string(set.cliName));
    const std::string file = session.scratch.File(std::string(set.cliName) + ".dld");
    session.observer.Clear();
    const LoopResult result = session.Run(set.operation, file, 0);
    EXPECT_EQ(result.boxesDone, 1);
    EXPECT_EQ(result.end, LoopEnd::kDone);
    ExpectSoundUpload(ReadBytes(file), set.operation, session.box.FlashCopy());
    if (set.operation != Operation::kUploadDefault) continue;
    EXPECT_EQ(session.Statuses(),
              (std::vector<std::string>{"Connectting...", "Connect Success!", "Verify...",
                                        "Ident check Success!", "Transfer...",
                                        "Transfering Data:  50%", "Transfering Data:  100%",
                                        "Transfer Success!", "Update Success!"}));
  }
}

TEST(Upload, ReadRequestBytesForTheKeySet) {
  const auto request = BuildReadRequest(UploadRegionList(Operation::kUploadKey));
  const std::vector<uint8_t> head(request.begin(), request.begin() + 12);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x02, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18, 0x40, 0x00,
                                        0x00, 0x01}));
  EXPECT_EQ(GetLe32(&request[12]), CalcCrc32(request.data(), 12));
  EXPECT_TRUE(std::all_of(request.begin() + 16, request.end(), [](uint8_t b) { return b == 0; }));
  for (const RegionSet& set : UploadSets()) {
    const auto parsed = ParseReadRequest(BuildReadRequest(set.regions).data());
    ASSERT_TRUE(parsed.has_value());
    ASSERT_EQ(parsed->size(), set.regions.size());
    for (size_t i = 0; i < parsed->size(); ++i) {
      EXPECT_EQ((*parsed)[i].address, set.regions[i].address);
      EXPECT_EQ((*parsed)[i].flag, set.regions[i].flag);
    }
  }
}

TEST(Upload, AFileThatCannotTakeItsTotalSizeIsNoBackup) {
  DriverSession session(BoxFaults{}, SampleFlashImage(20));
  const std::string file = session.scratch.File("key.dld");
  // The file vanishes between the last region and the total size (another program took it): the
  // upload still holds it open, but nothing passes for the backup under FILE.
  session.observer.SetStatusHook([&](const std::string& text) {
    if (text == "Transfer Success!") std::filesystem::remove(file + ".partial");
  });
  const LoopResult result = session.Run(Operation::kUploadKey, file);
  EXPECT_EQ(result.end, LoopEnd::kFailed);
  const auto outcomes = session.observer.Outcomes();
  ASSERT_FALSE(outcomes.empty());
  EXPECT_EQ(outcomes.back().failureKind, BoxFailureKind::kOutputUnwritable);
  EXPECT_NE(FailureText(outcomes.back().failure).find(file + ".partial was removed or replaced"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(file));
  const auto texts = session.Statuses();
  EXPECT_EQ(texts.back(), "Transfer failed!");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Update Success!"), 0);
  EXPECT_TRUE(session.observer.ControlsEnabled());
}

TEST(Upload, AllRegionsRoundTripIntoABlankBox) {
  const auto image = SampleFlashImage(19);
  ScratchFolder folder;
  const std::string file = folder.File("all.dld");
  {
    DriverSession source(BoxFaults{}, SampleFlashImage(19));
    ASSERT_EQ(source.Run(Operation::kUploadAll, file).boxesDone, 1);
  }
  DriverSession blank;
  ASSERT_EQ(blank.Run(Operation::kDownload, file).boxesDone, 1)
      << ::testing::PrintToString(blank.Statuses());
  blank.ExpectFlashHolds(image, UploadRegionList(Operation::kUploadAll));
}

}  // namespace
}  // namespace vn::testing
