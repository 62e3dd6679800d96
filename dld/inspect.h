#pragma once
// Checks an upgrade file held in memory block by block and describes it: the header's identity,
// one row per region and every fault found, each naming its block and offset.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dld/block_walker.h"
#include "dld/file_identity.h"

namespace vn {

struct RegionRow {
  int region = 0;  // 1-based, in file order
  size_t descriptorOffset = 0;
  uint8_t flag = 0;
  uint32_t address = 0;
  uint32_t size = 0;              // uncompressed bytes
  uint32_t compressedLength = 0;  // r
  double ratio = 0;               // r / size
  bool ok = false;                // no fault names this region's descriptor or data block
};

struct InspectReport {
  size_t fileSize = 0;
  bool headerFound = false;  // the first 71 bytes form a header block; the fields below hold it
  FileIdentity identity;
  uint8_t kindCode = 0;
  int partitionCount = 0;  // N as the header states it
  uint32_t totalSize = 0;  // iTotalSize as the header states it
  std::vector<RegionRow> regions;
  std::vector<BlockFault> faults;  // ordered by offset

  bool Sound() const { return headerFound && faults.empty(); }
};

// Every tag, length and CRC; the descriptor's CRC of the compressed bytes against the data
// block's; the piece count; r against the data block's size; iTotalSize against the file's
// size; N against the regions present; and that each region expands to exactly its size with the
// CRC its descriptor states. `contents`, when given, receives each region's expanded bytes, in
// the order of `regions` (empty for a region that did not expand soundly), so that a caller
// that writes them out expands the file once.
InspectReport InspectUpgradeFile(std::span<const uint8_t> file,
                                 std::vector<std::vector<uint8_t>>* contents = nullptr);

// "descriptor 3 at offset 1234: <what is wrong>"
std::string DescribeFault(const BlockFault& fault);

}  // namespace vn
