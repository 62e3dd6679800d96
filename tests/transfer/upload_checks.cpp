// What every uploaded file must be, shared by the upload tests and the fault matrix.
#include "dld/byte_order.h"
#include "dld/inspect.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "driver_session.h"

namespace vn::testing {

void ExpectSoundUpload(const std::vector<uint8_t>& file, Operation operation,
                       const std::vector<uint8_t>& flash) {
  ASSERT_GE(file.size(), size_t(kHeaderSize));
  const auto& header = HeaderOf(file);
  const auto regions = UploadRegionList(operation);
  EXPECT_EQ(header.partitionKind, RegionSetOf(operation).kindCode);
  EXPECT_EQ(header.partitionCount, regions.size());
  EXPECT_EQ(GetLe24(header.totalSize), file.size());
  EXPECT_TRUE(HeaderCrcMatches(header));
  const InspectReport report = InspectUpgradeFile(file);
  EXPECT_TRUE(report.Sound()) << (report.faults.empty() ? "" : report.faults[0].what);
  ASSERT_EQ(report.regions.size(), regions.size());
  size_t at = kHeaderSize;
  for (size_t i = 0; i < regions.size(); ++i) {
    EXPECT_EQ(report.regions[i].address, regions[i].address);
    EXPECT_EQ(report.regions[i].size, regions[i].size);
    const auto* descriptor = reinterpret_cast<const FILE_PARTITION_HEADER_T*>(&file[at]);
    const uint32_t r = GetLe24(descriptor->compressedLength);
    const auto contents = LzoDecompress({&file[at + kDescriptorSize + 4], r}, regions[i].size);
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(*contents, RegionOfImage(flash, regions[i].address, regions[i].size));
    at += kDescriptorSize + r + kDataBlockOverhead;
  }
  EXPECT_EQ(at, file.size());
}

}  // namespace vn::testing
