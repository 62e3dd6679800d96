#include "support/sample_files.h"

#include <algorithm>

#include "dld/byte_order.h"
#include "dld/inspect.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"

namespace vn::testing {

std::vector<uint8_t> SampleFlashImage(uint32_t seed, size_t size) {
  std::vector<uint8_t> image(size);
  const size_t stretchSize = std::clamp<size_t>(size / 4, 1, 4096);
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < image.size(); ++i) {
    const size_t stretch = (i / stretchSize + seed) % 4;
    if (stretch == 0 || stretch == 3) {
      state = state * 1664525u + 1013904223u;  // noise: does not compress
      image[i] = uint8_t(state >> 24);
    } else if (stretch == 1) {
      image[i] = 0xFF;  // erased flash
    } else {
      image[i] = uint8_t((i * (seed + 3)) >> 5);  // ramps: compress well
    }
  }
  return image;
}

FileIdentity LabBoxIdentity() {
  return FileIdentity{0, "VESPANODE-LAB", "VN-HW1", "1.00", "VN-SW1", "3.1.05"};
}

std::vector<uint8_t> HeaderFor(const FileIdentity& identity, int count) {
  const auto header = MakeHeader(identity, kNoKindCode, count);
  if (!header) return {};
  return {BytesOf(*header), BytesOf(*header) + kHeaderSize};
}

std::vector<uint8_t> BuildUpgradeFile(std::span<const UploadRegion> regions,
                                      const std::vector<uint8_t>& image,
                                      const FileIdentity& identity) {
  std::vector<uint8_t> file = HeaderFor(identity, int(regions.size()));
  if (file.empty()) return {};
  for (const UploadRegion& region : regions) {
    const std::vector<uint8_t> contents = RegionOfImage(image, region.address, region.size);
    const std::vector<uint8_t> compressed = LzoCompress(contents);
    const FILE_PARTITION_HEADER_T descriptor =
        MakeDescriptor(region.flag, region.address, contents, compressed);
    file.insert(file.end(), BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
    AppendDataBlock(file, compressed);
  }
  StampTotalSize(file);
  return file;
}

std::vector<uint8_t> SampleUpgradeFile(Operation set, uint32_t seed) {
  return BuildUpgradeFile(UploadRegionList(set), SampleFlashImage(seed), LabBoxIdentity());
}

bool PassesForABackup(const std::vector<uint8_t>& partial) {
  if (InspectUpgradeFile(partial).Sound()) return true;
  return partial.size() >= size_t(kHeaderSize) && GetLe24(HeaderOf(partial).totalSize) != 0;
}

std::vector<uint8_t> OneRegionFile(uint32_t address, std::span<const uint8_t> contents,
                                   std::span<const uint8_t> compressed) {
  std::vector<uint8_t> file = HeaderFor({}, 1);
  const auto descriptor = MakeDescriptor(0, address, contents, compressed);
  file.insert(file.end(), BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
  AppendDataBlock(file, compressed);
  StampTotalSize(file);
  return file;
}

}  // namespace vn::testing
