#include "dld/pack.h"

#include <algorithm>
#include <cstring>

#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/lzo_codec.h"
#include "dld/region_sets.h"

namespace vn {
namespace {

uint32_t CrcOf(std::span<const uint8_t> bytes) {
  return CalcCrc32(bytes.data(), int32_t(bytes.size()));
}

// Grows the file and copies into the new tail: a bare pointer and a separate count could
// disagree, and vector::insert's general path (which shifts a tail that is empty here) is what
// GCC's overflow analysis misreads at -O3.
void Append(std::vector<uint8_t>& file, std::span<const uint8_t> bytes) {
  const size_t at = file.size();
  file.resize(at + bytes.size());
  std::copy(bytes.begin(), bytes.end(), file.begin() + ptrdiff_t(at));
}

template <typename Block>
std::span<const uint8_t, sizeof(Block)> WholeBlock(const Block& block) {
  return std::span<const uint8_t, sizeof(Block)>(BytesOf(block), sizeof(Block));
}

}  // namespace

std::optional<FILE_DOWNLOAD_HEADER_T> MakeHeader(const FileIdentity& identity, uint8_t kindCode,
                                                 int regionCount, Failure* failure) {
  FILE_DOWNLOAD_HEADER_T header{};
  if (!PutIdentity(header, identity, failure)) return std::nullopt;
  header.tag = kHeaderTag;
  PutLe16(header.length, kHeaderLength);
  header.partitionKind = kindCode;
  header.partitionCount = uint8_t(regionCount);
  SealHeader(header);
  return header;
}

FILE_PARTITION_HEADER_T MakeDescriptor(uint8_t flag, uint32_t address,
                                       std::span<const uint8_t> contents,
                                       std::span<const uint8_t> compressed) {
  FILE_PARTITION_HEADER_T descriptor{};
  descriptor.tag = kDescriptorTag;
  descriptor.length = kDescriptorLength;
  descriptor.flag = flag;
  PutLe32(descriptor.address, address);
  PutLe24(descriptor.regionSize, uint32_t(contents.size()));
  PutLe32(descriptor.regionCrc, CrcOf(contents));
  PutLe24(descriptor.compressedLength, uint32_t(compressed.size()));
  PutLe32(descriptor.compressedCrc, CrcOf(compressed));
  descriptor.pieceCount = PieceCountOf(uint32_t(compressed.size()));
  SealDescriptor(descriptor);
  return descriptor;
}

void AppendDataBlock(std::vector<uint8_t>& file, std::span<const uint8_t> compressed) {
  uint8_t head[4] = {kDataTag};
  PutLe24(head + 1, uint32_t(compressed.size()) + 4);
  uint8_t crc[4];
  PutLe32(crc, CrcOf(compressed));
  Append(file, head);
  Append(file, compressed);
  Append(file, crc);
}

void StampTotalSize(std::vector<uint8_t>& file) {
  if (file.size() < size_t(kHeaderSize)) return;
  FILE_DOWNLOAD_HEADER_T header;
  std::memcpy(&header, file.data(), sizeof header);
  PutLe24(header.totalSize, uint32_t(file.size()));
  SealHeader(header);
  std::memcpy(file.data(), &header, sizeof header);
}

std::vector<uint8_t> RegionOfImage(std::span<const uint8_t> image, uint32_t address,
                                   uint32_t size) {
  std::vector<uint8_t> region(size, kErasedByte);
  if (address < kFlashBase) return region;
  const uint64_t start = address - kFlashBase;
  if (start >= image.size()) return region;
  const size_t available = size_t(std::min<uint64_t>(size, image.size() - start));
  std::copy_n(image.begin() + ptrdiff_t(start), available, region.begin());
  return region;
}

std::optional<std::vector<uint8_t>> PackUpgradeFile(const RegionSet& set,
                                                    std::span<const uint8_t> flashImage,
                                                    const FileIdentity& identity,
                                                    Failure* failure) {
  const std::span<const UploadRegion> regions = set.regions;
  if (regions.empty()) {
    if (failure) {
      *failure =
          FailureSaying(FailureKind::kOther, std::string(set.windowName) + " reads no regions");
    }
    return std::nullopt;
  }
  const auto header = MakeHeader(identity, set.kindCode, int(regions.size()), failure);
  if (!header) return std::nullopt;

  std::vector<uint8_t> file;
  Append(file, WholeBlock(*header));
  for (const UploadRegion& region : regions) {
    const std::vector<uint8_t> contents = RegionOfImage(flashImage, region.address, region.size);
    const std::vector<uint8_t> compressed = LzoCompress(contents);
    if (compressed.empty()) {
      if (failure) *failure = FailureSaying(FailureKind::kOther, "the compressor failed");
      return std::nullopt;
    }
    const FILE_PARTITION_HEADER_T descriptor =
        MakeDescriptor(region.flag, region.address, contents, compressed);
    Append(file, WholeBlock(descriptor));
    AppendDataBlock(file, compressed);
  }
  StampTotalSize(file);
  return file;
}

}  // namespace vn
