#pragma once
// The blocks as the box sees them: the header it sends in an upload, its identity check of a
// downloaded header, the descriptor and data block it builds for a region, and the checks and
// expansion of a downloaded partition.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dld/blocks.h"
#include "sim/virtual_box.h"

namespace vn {

// The box's own header: its identity, kind and count 0, total size 0, a fixed reserved pattern,
// sealed.
FILE_DOWNLOAD_HEADER_T BuildBoxHeader(const BoxIdentity& identity);

// True when the header asks for no check (byte 3 == 1) or carries exactly the box's identity,
// each text compared NUL-padded to its field's width.
bool HeaderFitsBox(const FILE_DOWNLOAD_HEADER_T& header, const BoxIdentity& identity);

// A sealed descriptor for a region and its compressed form.
FILE_PARTITION_HEADER_T BuildBoxDescriptor(uint8_t flag, uint32_t address,
                                           std::span<const uint8_t> contents,
                                           std::span<const uint8_t> compressed);

// Tag 0x33, r + 4 in three bytes, the r compressed bytes, their CRC.
std::vector<uint8_t> BuildBoxDataBlock(std::span<const uint8_t> compressed);

// The region's contents when the data block belongs to the descriptor: tag and length right,
// block CRC equal to its stored CRC and to the descriptor's, expansion to exactly the region
// size, region CRC right. nullopt otherwise.
std::optional<std::vector<uint8_t>> ExpandPartition(const FILE_PARTITION_HEADER_T& descriptor,
                                                    std::span<const uint8_t> block);

}  // namespace vn
