#include "dld/region_sets.h"

#include <gtest/gtest.h>

namespace vn {
namespace {

// Counts, kind codes and names of the sets; their regions lie in the flash without overlap.
TEST(RegionSets, CountsKindCodesNamesAndPlaces) {
  const int counts[kOperationCount] = {0, 8, 2, 1, 4, 27, 34};
  const int kinds[kOperationCount] = {7, 0, 1, 3, 4, 5, 6};
  for (const RegionSet& set : RegionSets()) {
    const int at = PositionOf(set.operation);
    EXPECT_EQ(OperationAt(at), set.operation) << set.windowName;
    EXPECT_EQ(PartitionCountOfOperation(set.operation), counts[at]) << set.windowName;
    EXPECT_EQ(set.kindCode, kinds[at]) << set.windowName;
    if (at > 0) {
      EXPECT_NE(SetNameChoices().find(set.cliName), std::string::npos) << set.cliName;
    }
  }
  EXPECT_FALSE(OperationAt(kOperationCount).has_value());
  EXPECT_FALSE(OperationAt(-1).has_value());
  EXPECT_FALSE(OperationOfSetName("download").has_value());
  EXPECT_FALSE(OperationOfSetName("").has_value());
  EXPECT_EQ(UploadSets().size(), size_t(kOperationCount - 1));
  for (const RegionSet& set : UploadSets()) {
    EXPECT_EQ(OperationOfSetName(SetName(set.operation)), set.operation);
    uint32_t previousEnd = 0;
    for (const UploadRegion& region : set.regions) {
      EXPECT_GE(region.address, kFlashBase);
      EXPECT_LE(region.address - kFlashBase + region.size, kFlashSize);
      EXPECT_GE(region.address, previousEnd) << set.windowName;
      previousEnd = region.address + region.size;
    }
  }
}

TEST(RegionSets, SizesFlagsAndPlacesOfTheLargerSets) {
  auto total = [](Operation op) {
    uint32_t sum = 0;
    for (const UploadRegion& region : UploadRegionList(op)) sum += region.size;
    return sum;
  };
  EXPECT_EQ(total(Operation::kUploadData), 320u * 1024);
  EXPECT_EQ(total(Operation::kUploadLoader), 64u * 1024);
  const auto app = UploadRegionList(Operation::kUploadApp);
  for (size_t i = 0; i < app.size(); ++i) {
    EXPECT_EQ(app[i].flag, i < 23 ? 1 : 0) << i;
    EXPECT_EQ(app[i].address, 0x40010000u + i * 0x10000);
  }
  const auto all = UploadRegionList(Operation::kUploadAll);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].flag, i < 23 ? 1 : 0) << i;
  EXPECT_EQ(all[29].address, 0x401E0000u);
  EXPECT_EQ(all[30].address, 0x401F0000u);
  EXPECT_EQ(all[30].size, 0x8000u);
  EXPECT_EQ(all[33].address, 0x401FC000u);
  EXPECT_EQ(all[33].size, 0x4000u);
}

}  // namespace
}  // namespace vn
