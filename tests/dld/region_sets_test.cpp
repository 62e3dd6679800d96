#include "dld/region_sets.h"

#include <gtest/gtest.h>

namespace vn {
namespace {

TEST(RegionSets, CountsAndKindCodes) {
  const int counts[kOperationCount] = {0, 8, 2, 1, 4, 27, 34};
  const int kinds[kOperationCount] = {7, 0, 1, 3, 4, 5, 6};
  for (int op = 0; op < kOperationCount; ++op) {
    EXPECT_EQ(PartitionCountOfOperation(op), counts[op]) << OperationName(op);
    EXPECT_EQ(PartitionKindOfCount(counts[op]), kinds[op]) << OperationName(op);
  }
  EXPECT_EQ(PartitionKindOfCount(5), 7);
  EXPECT_EQ(PartitionCountOfOperation(7), 0);
  EXPECT_EQ(PartitionCountOfOperation(-1), 0);
}

// An upload file's kind code is found from its region count alone: two sets of one size would
// give one of them the other's code.
TEST(RegionSets, EverySetIsKnownByItsCountAndName) {
  for (const RegionSet& set : RegionSets()) {
    if (set.regions.empty()) continue;
    EXPECT_EQ(PartitionKindOfCount(int(set.regions.size())), set.kindCode) << set.windowName;
    EXPECT_NE(SetNameChoices().find(set.cliName), std::string::npos) << set.cliName;
  }
}

TEST(RegionSets, RegionsLieInFlashWithoutOverlap) {
  for (int op = 1; op < kOperationCount; ++op) {
    uint32_t previousEnd = 0;
    for (const UploadRegion& region : UploadRegionList(op)) {
      EXPECT_GE(region.address, kFlashBase);
      EXPECT_LE(region.address - kFlashBase + region.size, kFlashSize);
      EXPECT_GE(region.address, previousEnd) << OperationName(op);
      previousEnd = region.address + region.size;
    }
  }
}

TEST(RegionSets, SizesOfDataAndLoader) {
  auto total = [](int op) {
    uint32_t sum = 0;
    for (const UploadRegion& region : UploadRegionList(op)) sum += region.size;
    return sum;
  };
  EXPECT_EQ(total(1), 320u * 1024);
  EXPECT_EQ(total(4), 64u * 1024);
}

TEST(RegionSets, AppAndAllFlags) {
  const auto app = UploadRegionList(kOperationUploadApp);
  for (size_t i = 0; i < app.size(); ++i) {
    EXPECT_EQ(app[i].flag, i < 23 ? 1 : 0) << i;
    EXPECT_EQ(app[i].address, 0x40010000u + i * 0x10000);
  }
  const auto all = UploadRegionList(kOperationUploadAll);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].flag, i < 23 ? 1 : 0) << i;
  EXPECT_EQ(all[29].address, 0x401E0000u);
  EXPECT_EQ(all[30].address, 0x401F0000u);
  EXPECT_EQ(all[30].size, 0x8000u);
  EXPECT_EQ(all[33].address, 0x401FC000u);
  EXPECT_EQ(all[33].size, 0x4000u);
}

TEST(RegionSets, SetNamesRoundTrip) {
  for (int op = 1; op < kOperationCount; ++op) {
    EXPECT_EQ(OperationOfSetName(SetName(op)), op);
  }
  EXPECT_FALSE(OperationOfSetName("download").has_value());
  EXPECT_FALSE(OperationOfSetName("").has_value());
}

}  // namespace
}  // namespace vn
