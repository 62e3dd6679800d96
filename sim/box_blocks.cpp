#include "sim/box_blocks.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/file_identity.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"

namespace vn {
namespace {

// What the box keeps in the reserved bytes of its header; the PC carries them unchanged.
constexpr uint8_t kReservedPattern[11] = {'V',  'N',  'B',  'O',  'X', 0x01,
                                          0x00, 0x5A, 0xA5, 0x00, 0x00};

template <size_t N>
std::string Cut(const std::string& text, const char (&)[N]) {
  return text.substr(0, N);
}

}  // namespace

FILE_DOWNLOAD_HEADER_T BuildBoxHeader(const FileIdentity& identity) {
  const FILE_DOWNLOAD_HEADER_T widths{};
  FileIdentity texts;
  texts.manufactureIdent = Cut(identity.manufactureIdent, widths.manufactureIdent);
  texts.hardwareModule = Cut(identity.hardwareModule, widths.hardwareModule);
  texts.hardwareVersion = Cut(identity.hardwareVersion, widths.hardwareVersion);
  texts.softwareModule = Cut(identity.softwareModule, widths.softwareModule);
  texts.softwareVersion = Cut(identity.softwareVersion, widths.softwareVersion);
  FILE_DOWNLOAD_HEADER_T header = *MakeHeader(texts, 0, 0);  // every text fits once cut
  std::memcpy(header.reserved, kReservedPattern, sizeof header.reserved);
  SealHeader(header);
  return header;
}

bool HeaderFitsBox(const FILE_DOWNLOAD_HEADER_T& header, const FileIdentity& identity) {
  return FileFitsBox(header, BuildBoxHeader(identity));
}

// Apart from dld's CompareDataBlock on purpose: the box must not share the PC's mistakes.
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
