#include "dld/blocks.h"

#include "dld/byte_order.h"
#include "dld/crc32.h"

namespace vn {

void SealHeader(FILE_DOWNLOAD_HEADER_T& header) {
  uint8_t* bytes = BytesOf(header);
  PutLe32(bytes + kHeaderCrcAt, CalcCrc32(bytes + kHeaderCrcFrom, kHeaderCrcCount));
}

void SealDescriptor(FILE_PARTITION_HEADER_T& descriptor) {
  uint8_t* bytes = BytesOf(descriptor);
  PutLe32(bytes + kDescriptorCrcAt, CalcCrc32(bytes + kDescriptorCrcFrom, kDescriptorCrcCount));
}

bool HeaderCrcMatches(const FILE_DOWNLOAD_HEADER_T& header) {
  const uint8_t* bytes = BytesOf(header);
  return GetLe32(bytes + kHeaderCrcAt) == CalcCrc32(bytes + kHeaderCrcFrom, kHeaderCrcCount);
}

bool DescriptorCrcMatches(const FILE_PARTITION_HEADER_T& descriptor) {
  const uint8_t* bytes = BytesOf(descriptor);
  return GetLe32(bytes + kDescriptorCrcAt) ==
         CalcCrc32(bytes + kDescriptorCrcFrom, kDescriptorCrcCount);
}

bool HeaderIsValid(const FILE_DOWNLOAD_HEADER_T& header) {
  return header.tag == kHeaderTag && header.length[0] == kHeaderLength;
}

DataBlockAgreement CompareDataBlock(const FILE_PARTITION_HEADER_T& descriptor,
                                    std::span<const uint8_t> block) {
  DataBlockAgreement agreement;
  if (block.size() < size_t(kDataBlockOverhead)) return agreement;
  const uint32_t r = GetLe24(descriptor.compressedLength);
  const auto payload = block.subspan(4, block.size() - kDataBlockOverhead);
  const uint32_t storedCrc = GetLe32(&block[block.size() - 4]);
  agreement.sized = block[0] == kDataTag && block.size() == size_t(r) + kDataBlockOverhead &&
                    GetLe24(&block[1]) == r + 4;
  agreement.crcSound = storedCrc == CalcCrc32(payload.data(), int32_t(payload.size()));
  agreement.crcAnnounced = storedCrc == GetLe32(descriptor.compressedCrc);
  return agreement;
}

}  // namespace vn
