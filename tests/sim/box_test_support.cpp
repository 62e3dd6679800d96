#include "box_test_support.h"

#include "dld/blocks.h"
#include "dld/file_identity.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"

namespace vn::testing {

std::vector<uint8_t> HeaderFor(const FileIdentity& identity, int count) {
  const auto header = MakeHeader(identity, kNoKindCode, count);
  if (!header) return {};
  return {BytesOf(*header), BytesOf(*header) + kHeaderSize};
}

PackedPartition Pack(uint32_t address, std::vector<uint8_t> contents) {
  PackedPartition packed;
  packed.address = address;
  packed.contents = std::move(contents);
  const std::vector<uint8_t> compressed = LzoCompress(packed.contents);
  const FILE_PARTITION_HEADER_T descriptor =
      MakeDescriptor(0, address, packed.contents, compressed);
  packed.descriptor.assign(BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
  AppendDataBlock(packed.block, compressed);
  return packed;
}

bool SendBlock(MiniPc& pc, const std::vector<uint8_t>& block, uint8_t& number) {
  size_t offset = 0;
  for (bool last = false; !last;) {
    const size_t remaining = block.size() - offset;
    last = remaining < size_t(kFramePayloadMax);
    const size_t payload = last ? remaining : size_t(kFramePayloadMax);
    const DataFrame frame = BuildDataFrame(number, std::span(block).subspan(offset, payload));
    for (;;) {
      pc.Write(frame);
      const auto answer = pc.Read(1);
      if (answer.size() != 1) return false;
      if (answer[0] == ACK) break;
      if (answer[0] != NAK) return false;
    }
    ++number;
    offset += payload;
  }
  return true;
}

bool SendPartitions(MiniPc& pc, const std::vector<uint8_t>& header,
                    const std::vector<PackedPartition>& partitions) {
  pc.Write(header);
  if (pc.Read(1) != std::vector<uint8_t>{ACK}) return false;
  if (!IsCommand(pc.Read(kCommandFrameSize), kCodeIdent, 1)) return false;
  uint8_t number = 1;
  for (const PackedPartition& partition : partitions) {
    pc.Write(partition.descriptor);
    if (pc.Read(1) != std::vector<uint8_t>{ACK}) return false;
    if (!SendBlock(pc, partition.block, number)) return false;
  }
  return true;
}

bool IsCommand(const std::vector<uint8_t>& frame, uint8_t code, uint8_t sub) {
  return frame.size() == size_t(kCommandFrameSize) && frame[0] == STX && frame[1] == code &&
         frame[2] == sub && frame[3] == ETX;
}

}  // namespace vn::testing
