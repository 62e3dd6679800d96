#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "dld/byte_order.h"
#include "dld/extract.h"
#include "dld/file_io.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "support/sample_files.h"

namespace vn {
namespace {

const FileIdentity kIdentity{1, "MANUFACTURER-15", "HWMODULE", "HW-1.2", "SWMOD", "SW-9.99"};

TEST(PackExtract, EverySetRoundTrips) {
  const std::vector<uint8_t> image = testing::SampleFlashImage(11);
  for (const RegionSet& set : UploadSets()) {
    const Operation op = set.operation;
    SCOPED_TRACE(std::string(set.windowName));
    const auto file = PackUpgradeFile(set, image, kIdentity);
    ASSERT_TRUE(file.has_value());

    const InspectReport report = InspectUpgradeFile(*file);
    ASSERT_TRUE(report.Sound());
    EXPECT_EQ(report.identity, kIdentity);
    EXPECT_EQ(report.partitionCount, PartitionCountOfOperation(op));
    EXPECT_EQ(report.kindCode, set.kindCode);
    EXPECT_EQ(report.totalSize, file->size());
    const auto regions = UploadRegionList(op);
    ASSERT_EQ(report.regions.size(), regions.size());
    for (size_t i = 0; i < regions.size(); ++i) {
      EXPECT_EQ(report.regions[i].address, regions[i].address);
      EXPECT_EQ(report.regions[i].size, regions[i].size);
      EXPECT_EQ(report.regions[i].flag, regions[i].flag);
    }

    // Into an erased image: the regions come back, everything else stays erased.
    std::vector<uint8_t> restored(kFlashSize, 0xFF), expected(kFlashSize, 0xFF);
    ASSERT_TRUE(ExtractIntoImage(*file, restored));
    for (const UploadRegion& region : regions) {
      const size_t start = region.address - kFlashBase;
      std::copy_n(image.begin() + ptrdiff_t(start), region.size,
                  expected.begin() + ptrdiff_t(start));
    }
    const auto differ = std::mismatch(restored.begin(), restored.end(), expected.begin());
    EXPECT_TRUE(differ.first == restored.end())
        << "differs at " << std::hex << kFlashBase + (differ.first - restored.begin());
  }
}

TEST(PackExtract, HeaderLayout) {
  const auto file =
      PackUpgradeFile(RegionSetOf(Operation::kUploadKey), testing::SampleFlashImage(1),
                      {0, "AB", "", "", "", "12345678"});
  ASSERT_TRUE(file.has_value());
  const uint8_t* h = file->data();
  EXPECT_EQ(h[0], 0x11);
  EXPECT_EQ(h[1], 0x44);
  EXPECT_EQ(h[2], 0x00);
  EXPECT_EQ(h[3], 0);
  EXPECT_EQ(h[4], 'A');
  EXPECT_EQ(h[6], 0);  // NUL-padded
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(h + 43), 8), "12345678");
  EXPECT_EQ(h[51], 3);
  EXPECT_EQ(h[52], 1);
  EXPECT_TRUE(std::all_of(h + 56, h + 67, [](uint8_t b) { return b == 0; }));
  // "Upload Key" file: header, one descriptor and one data block of r + 8 bytes.
  const uint32_t r = GetLe24(h + kHeaderSize + 14);
  EXPECT_EQ(file->size(), size_t(kHeaderSize + kDescriptorSize) + r + 8);
  EXPECT_EQ(GetLe24(h + 53), file->size());
}

TEST(PackExtract, RefusesWhatDoesNotFit) {
  Failure why;
  FileIdentity tooLong = kIdentity;
  tooLong.hardwareModule = "123456789";
  EXPECT_FALSE(PackUpgradeFile(RegionSetOf(Operation::kUploadData), {}, tooLong, &why).has_value());
  EXPECT_NE(FailureText(why).find("hardware module"), std::string::npos) << FailureText(why);
  tooLong = kIdentity;
  tooLong.manufactureIdent = std::string(16, 'M');
  EXPECT_FALSE(PackUpgradeFile(RegionSetOf(Operation::kUploadData), {}, tooLong).has_value());
  EXPECT_FALSE(PackUpgradeFile(RegionSetOf(Operation::kDownload), {}, kIdentity).has_value());
}

TEST(PackExtract, ShortImageCountsAsErased) {
  const std::vector<uint8_t> image = testing::SampleFlashImage(5, 0x1000);
  const auto file = PackUpgradeFile(RegionSetOf(Operation::kUploadLoader), image, {});
  std::vector<uint8_t> restored;
  ASSERT_TRUE(ExtractIntoImage(*file, restored));
  ASSERT_EQ(restored.size(), 0x10000u);  // grown to the end of the last loader region
  EXPECT_TRUE(std::equal(image.begin(), image.end(), restored.begin()));
  EXPECT_TRUE(
      std::all_of(restored.begin() + 0x1000, restored.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(PackExtract, UnsoundFileWritesNothing) {
  auto file =
      *PackUpgradeFile(RegionSetOf(Operation::kUploadKey), testing::SampleFlashImage(1), {});
  file.back() ^= 1;
  std::vector<uint8_t> image(16, 0x00);
  Failure why;
  EXPECT_FALSE(ExtractIntoImage(file, image, &why));
  EXPECT_EQ(image, std::vector<uint8_t>(16, 0x00));
  EXPECT_NE(FailureText(why).find("data block 1"), std::string::npos) << FailureText(why);

  testing::ScratchFolder folder;
  const std::string path = folder.File("flash.bin");
  const ExtractResult result = ExtractToImageFile(file, path);
  EXPECT_EQ(result.outcome, ExtractOutcome::Unsound);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(PackExtract, ImageFileCreatedAndUpdatedInPlace) {
  testing::ScratchFolder folder;
  const std::string path = folder.File("flash.bin");
  const std::vector<uint8_t> image = testing::SampleFlashImage(9);
  const auto key = *PackUpgradeFile(RegionSetOf(Operation::kUploadKey), image, {});

  ASSERT_EQ(ExtractToImageFile(key, path).outcome, ExtractOutcome::Written);
  std::vector<uint8_t> written = testing::ReadBytes(path);
  ASSERT_EQ(written.size(), kFlashSize);
  const size_t keyAt = 0x180000;
  EXPECT_TRUE(std::equal(written.begin() + keyAt, written.begin() + keyAt + 0x10000,
                         image.begin() + keyAt));
  EXPECT_EQ(written[0], 0xFF);

  // A second set lands beside the first, which stays.
  ASSERT_EQ(
      ExtractToImageFile(*PackUpgradeFile(RegionSetOf(Operation::kUploadLoader), image, {}), path)
          .outcome,
      ExtractOutcome::Written);
  written = testing::ReadBytes(path);
  EXPECT_TRUE(std::equal(written.begin(), written.begin() + 0x10000, image.begin()));
  EXPECT_TRUE(std::equal(written.begin() + keyAt, written.begin() + keyAt + 0x10000,
                         image.begin() + keyAt));
  // No temporary files stay behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                          std::filesystem::directory_iterator()),
            1);

  // An image shorter than the flash (an older, shorter dump) comes out a whole flash image, its
  // bytes kept and the rest erased, whatever the regions reach.
  const std::vector<uint8_t> shortImage(0x1000, 0x5A);
  testing::WriteBytes(path, shortImage);
  ASSERT_EQ(ExtractToImageFile(key, path).outcome, ExtractOutcome::Written);
  written = testing::ReadBytes(path);
  ASSERT_EQ(written.size(), kFlashSize);
  EXPECT_TRUE(std::equal(shortImage.begin(), shortImage.end(), written.begin()));
  EXPECT_EQ(written[kFlashSize - 1], 0xFF);
}

TEST(PackExtract, UnwritableFolderIsAClearError) {
  testing::ScratchFolder folder;
  const auto key =
      *PackUpgradeFile(RegionSetOf(Operation::kUploadKey), testing::SampleFlashImage(1), {});
  const ExtractResult result = ExtractToImageFile(key, folder.File("no-such-folder/flash.bin"));
  EXPECT_EQ(result.outcome, ExtractOutcome::IoError);
  const std::string said = FailureText(result.failure);
  EXPECT_NE(said.find("no-such-folder"), std::string::npos) << said;

  Failure failure;
  EXPECT_FALSE(WriteFileAtomically(folder.File("missing/x.dld"), key, failure));
  const std::string error = FailureText(failure);
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

TEST(PackExtract, RegionOutsideFlashIsRefused) {
  const std::vector<uint8_t> contents(0x100, 0x5A);
  const std::vector<uint8_t> file =
      testing::OneRegionFile(0x401FFF80, contents, LzoCompress(contents));
  ASSERT_TRUE(InspectUpgradeFile(file).Sound());
  std::vector<uint8_t> image;
  Failure why;
  EXPECT_FALSE(ExtractIntoImage(file, image, &why));
  EXPECT_TRUE(image.empty());
  EXPECT_NE(FailureText(why).find("outside"), std::string::npos) << FailureText(why);
}

}  // namespace
}  // namespace vn
