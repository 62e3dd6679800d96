#include "sim/box_blocks.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/lzo_codec.h"

namespace vn {
namespace {

// What the box keeps in the reserved bytes of its header; the PC carries them unchanged.
constexpr uint8_t kReservedPattern[11] = {'V',  'N',  'B',  'O',  'X', 0x01,
                                          0x00, 0x5A, 0xA5, 0x00, 0x00};

template <size_t N>
void PutText(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

template <size_t N>
bool TextEquals(const char (&field)[N], const std::string& text) {
  char padded[N];
  PutText(padded, text);
  return std::memcmp(field, padded, N) == 0;
}

}  // namespace

FILE_DOWNLOAD_HEADER_T BuildBoxHeader(const BoxIdentity& identity) {
  FILE_DOWNLOAD_HEADER_T header{};
  header.tag = kHeaderTag;
  PutLe16(header.length, kHeaderLength);
  PutText(header.manufactureIdent, identity.manufactureIdent);
  PutText(header.hardwareModule, identity.hardwareModule);
  PutText(header.hardwareVersion, identity.hardwareVersion);
  PutText(header.softwareModule, identity.softwareModule);
  PutText(header.softwareVersion, identity.softwareVersion);
  std::memcpy(header.reserved, kReservedPattern, sizeof header.reserved);
  SealHeader(header);
  return header;
}

bool HeaderFitsBox(const FILE_DOWNLOAD_HEADER_T& header, const BoxIdentity& identity) {
  if (header.identForNocheck == 1) return true;
  return TextEquals(header.manufactureIdent, identity.manufactureIdent) &&
         TextEquals(header.hardwareModule, identity.hardwareModule) &&
         TextEquals(header.hardwareVersion, identity.hardwareVersion) &&
         TextEquals(header.softwareModule, identity.softwareModule) &&
         TextEquals(header.softwareVersion, identity.softwareVersion);
}

FILE_PARTITION_HEADER_T BuildBoxDescriptor(uint8_t flag, uint32_t address,
                                           std::span<const uint8_t> contents,
                                           std::span<const uint8_t> compressed) {
  FILE_PARTITION_HEADER_T descriptor{};
  descriptor.tag = kDescriptorTag;
  descriptor.length = kDescriptorLength;
  descriptor.flag = flag;
  PutLe32(descriptor.address, address);
  PutLe24(descriptor.regionSize, uint32_t(contents.size()));
  PutLe32(descriptor.regionCrc, CalcCrc32(contents.data(), int32_t(contents.size())));
  PutLe24(descriptor.compressedLength, uint32_t(compressed.size()));
  PutLe32(descriptor.compressedCrc, CalcCrc32(compressed.data(), int32_t(compressed.size())));
  descriptor.pieceCount = PieceCountOf(uint32_t(compressed.size()));
  SealDescriptor(descriptor);
  return descriptor;
}

std::vector<uint8_t> BuildBoxDataBlock(std::span<const uint8_t> compressed) {
  const uint32_t r = uint32_t(compressed.size());
  std::vector<uint8_t> block(r + kDataBlockOverhead);
  block[0] = kDataTag;
  PutLe24(&block[1], r + 4);
  std::copy(compressed.begin(), compressed.end(), block.begin() + 4);
  PutLe32(&block[4 + r], CalcCrc32(compressed.data(), int32_t(r)));
  return block;
}

std::optional<std::vector<uint8_t>> ExpandPartition(const FILE_PARTITION_HEADER_T& descriptor,
                                                    std::span<const uint8_t> block) {
  const uint32_t r = GetLe24(descriptor.compressedLength);
  if (block.size() != r + kDataBlockOverhead || block[0] != kDataTag ||
      GetLe24(&block[1]) != r + 4) {
    return std::nullopt;
  }
  const auto compressed = block.subspan(4, r);
  const uint32_t crc = CalcCrc32(compressed.data(), int32_t(r));
  if (crc != GetLe32(&block[4 + r]) || crc != GetLe32(descriptor.compressedCrc)) {
    return std::nullopt;
  }
  auto contents = LzoDecompress(compressed, GetLe24(descriptor.regionSize));
  if (!contents ||
      CalcCrc32(contents->data(), int32_t(contents->size())) != GetLe32(descriptor.regionCrc)) {
    return std::nullopt;
  }
  return contents;
}

}  // namespace vn
