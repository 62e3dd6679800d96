#include "support/sample_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "support/fresh_folder.h"

namespace vn::testing {

std::vector<uint8_t> SampleFlashImage(uint32_t seed) {
  std::vector<uint8_t> image(kFlashSize);
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < image.size(); ++i) {
    const size_t stretch = (i / 4096 + seed) % 4;
    if (stretch == 0) {
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

std::vector<uint8_t> BuildUpgradeFile(std::span<const UploadRegion> regions,
                                      const std::vector<uint8_t>& image,
                                      const FileIdentity& identity) {
  const auto header = MakeHeader(identity, kNoKindCode, int(regions.size()));
  if (!header) return {};
  std::vector<uint8_t> file(BytesOf(*header), BytesOf(*header) + kHeaderSize);
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

ScratchFolder::ScratchFolder() : path_(test::CreateFreshFolder("vespanode-test-").string()) {}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  if (!path_.empty()) std::filesystem::remove_all(path_, error);
}

std::string ScratchFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string path = File(name);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vn::testing
