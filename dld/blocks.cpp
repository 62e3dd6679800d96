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

}  // namespace vn
