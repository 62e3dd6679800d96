#pragma once
// Walks the blocks of an upgrade file held in memory: the download header, then descriptor and
// data block pairs until the bytes end. Every length is checked against the bytes that remain
// before anything is read, so any input, however damaged, is walked safely.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dld/blocks.h"

namespace vn {

enum class BlockKind { Header, Descriptor, Data };

struct BlockView {
  BlockKind kind = BlockKind::Header;
  int region = 0;                    // 1-based region number; 0 for the header
  size_t offset = 0;                 // of the tag byte in the file
  uint32_t length = 0;               // the length field L: payload plus CRC
  std::span<const uint8_t> bytes;    // the whole block, tag to CRC
  std::span<const uint8_t> payload;  // the L - 4 bytes the CRC covers
  uint32_t storedCrc = 0;
  bool crcMatches = false;
};

// A fault names its block ("header", "descriptor 3", "data block 3", "trailing bytes"), the
// block's offset in the file and what is wrong.
struct BlockFault {
  std::string block;
  size_t offset = 0;
  std::string what;
};

// "header", "descriptor 3", "data block 3".
std::string BlockName(BlockKind kind, int region);

class BlockWalker {
 public:
  explicit BlockWalker(std::span<const uint8_t> file) : file_(file) {}

  // The next block in file order. nullopt when the bytes are used up or when the block at the
  // current offset is malformed (wrong tag or length, or running past the end); Fault() then
  // says which. A CRC mismatch is not a walking fault: the block is returned with crcMatches
  // false, and the walk goes on.
  std::optional<BlockView> Next();

  const std::optional<BlockFault>& Fault() const { return fault_; }
  size_t Offset() const { return offset_; }
  bool AtEnd() const { return offset_ == file_.size(); }

 private:
  std::optional<BlockView> Stop(BlockKind kind, std::string what);

  std::span<const uint8_t> file_;
  size_t offset_ = 0;
  int blocksWalked_ = 0;
  std::optional<BlockFault> fault_;
};

struct RegionBlocks {
  BlockView descriptor;
  std::optional<BlockView> data;  // missing when the walk stopped at the data block
};

struct WalkedFile {
  std::optional<BlockView> header;
  std::vector<RegionBlocks> regions;
  std::optional<BlockFault> fault;  // the first malformed block; the walk stopped there
};

// Walks the whole file. A file whose bytes end exactly after a data block walks cleanly.
WalkedFile WalkUpgradeFile(std::span<const uint8_t> file);

// The block's bytes as a record; the view must be a header or a descriptor respectively.
FILE_DOWNLOAD_HEADER_T HeaderOf(const BlockView& view);
FILE_PARTITION_HEADER_T DescriptorOf(const BlockView& view);

}  // namespace vn
