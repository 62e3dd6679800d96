#include "dld/block_walker.h"

#include <algorithm>
#include <cstring>

#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "platform/text_format.h"

namespace vn {
namespace {

constexpr size_t kCrcSize = 4;

struct BlockShape {
  uint8_t tag;
  size_t lengthWidth;    // bytes of the length field
  uint32_t fixedLength;  // 0 when the length varies (data blocks)
};

BlockShape ShapeOf(BlockKind kind) {
  switch (kind) {
    case BlockKind::Header:
      return {kHeaderTag, 2, uint32_t(kHeaderLength)};
    case BlockKind::Descriptor:
      return {kDescriptorTag, 1, uint32_t(kDescriptorLength)};
    case BlockKind::Data:
      return {kDataTag, 3, 0};
  }
  return {0, 1, 0};
}

}  // namespace

std::string BlockName(BlockKind kind, int region) {
  switch (kind) {
    case BlockKind::Header:
      return "header";
    case BlockKind::Descriptor:
      return "descriptor " + std::to_string(region);
    case BlockKind::Data:
      return "data block " + std::to_string(region);
  }
  return "block";
}

std::optional<BlockView> BlockWalker::Stop(BlockKind kind, std::string what) {
  const int region = blocksWalked_ == 0 ? 0 : (blocksWalked_ + 1) / 2;
  fault_ = BlockFault{BlockName(kind, region), offset_, std::move(what)};
  return std::nullopt;
}

std::optional<BlockView> BlockWalker::Next() {
  if (fault_) return std::nullopt;
  // Header first, then descriptors at odd positions and data blocks at even ones.
  const BlockKind kind = blocksWalked_ == 0       ? BlockKind::Header
                         : blocksWalked_ % 2 == 1 ? BlockKind::Descriptor
                                                  : BlockKind::Data;
  // A file may end only where a descriptor would begin.
  if (AtEnd()) {
    if (kind == BlockKind::Descriptor) return std::nullopt;
    return Stop(
        kind, kind == BlockKind::Header ? "the file is empty" : "the file ends before this block");
  }
  const BlockShape shape = ShapeOf(kind);
  const size_t remaining = file_.size() - offset_;
  const uint8_t* at = file_.data() + offset_;

  if (remaining < 1 + shape.lengthWidth) {
    return Stop(kind, "the file ends after " + std::to_string(remaining) +
                          " bytes, inside the block's tag and length");
  }
  if (at[0] != shape.tag) {
    return Stop(kind, "tag is " + HexNumber(at[0], 2) + ", expected " + HexNumber(shape.tag, 2));
  }
  uint32_t length = at[1];
  // The header's length is known by its low byte alone (byte 2 is not looked at), as everywhere
  // else a header is judged; any other block's length is taken whole.
  if (shape.lengthWidth >= 2 && kind != BlockKind::Header) length |= uint32_t(at[2]) << 8;
  if (shape.lengthWidth >= 3) length |= uint32_t(at[3]) << 16;
  if (shape.fixedLength != 0 && length != shape.fixedLength) {
    return Stop(kind, "length field is " + std::to_string(length) + ", expected " +
                          std::to_string(shape.fixedLength));
  }
  if (length < kCrcSize) {
    return Stop(kind,
                "length field is " + std::to_string(length) + ", less than the 4 bytes of its CRC");
  }
  const size_t total = 1 + shape.lengthWidth + size_t(length);
  if (total > remaining) {
    return Stop(kind, "the block needs " + std::to_string(total) + " bytes but only " +
                          std::to_string(remaining) + " remain in the file");
  }

  BlockView view;
  view.kind = kind;
  view.region = kind == BlockKind::Header ? 0 : (blocksWalked_ + 1) / 2;
  view.offset = offset_;
  view.length = length;
  view.bytes = file_.subspan(offset_, total);
  view.payload = view.bytes.subspan(1 + shape.lengthWidth, length - kCrcSize);
  view.storedCrc = GetLe32(view.bytes.data() + total - kCrcSize);
  view.crcMatches = view.storedCrc == CalcCrc32(view.payload.data(), int32_t(view.payload.size()));

  offset_ += total;
  ++blocksWalked_;
  return view;
}

WalkedFile WalkUpgradeFile(std::span<const uint8_t> file) {
  WalkedFile walked;
  BlockWalker walker(file);
  while (auto block = walker.Next()) {
    switch (block->kind) {
      case BlockKind::Header:
        walked.header = *block;
        break;
      case BlockKind::Descriptor:
        walked.regions.push_back({*block, std::nullopt});
        break;
      case BlockKind::Data:
        walked.regions.back().data = *block;
        break;
    }
  }
  walked.fault = walker.Fault();
  return walked;
}

FILE_DOWNLOAD_HEADER_T HeaderOf(const BlockView& view) {
  FILE_DOWNLOAD_HEADER_T header{};
  std::memcpy(&header, view.bytes.data(), std::min(view.bytes.size(), sizeof header));
  return header;
}

FILE_PARTITION_HEADER_T DescriptorOf(const BlockView& view) {
  FILE_PARTITION_HEADER_T descriptor{};
  std::memcpy(&descriptor, view.bytes.data(), std::min(view.bytes.size(), sizeof descriptor));
  return descriptor;
}

}  // namespace vn
