#pragma once
// The blocks as the box sees them: the header it sends in an upload, its identity check of a
// downloaded header, and the checks and expansion of a downloaded partition.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dld/blocks.h"
#include "dld/file_identity.h"

namespace vn {

// The box's own header: its identity (each text cut to its field), kind and count 0, total size
// 0, a fixed reserved pattern, sealed.
FILE_DOWNLOAD_HEADER_T BuildBoxHeader(const FileIdentity& identity);

// True when the header asks for no check (byte 3 == 1) or carries exactly the box's identity,
// each text compared NUL-padded to its field's width.
bool HeaderFitsBox(const FILE_DOWNLOAD_HEADER_T& header, const FileIdentity& identity);

// The region's contents when the data block belongs to the descriptor: tag and length right,
// block CRC equal to its stored CRC and to the descriptor's, expansion to exactly the region
// size, region CRC right. nullopt otherwise.
std::optional<std::vector<uint8_t>> ExpandPartition(const FILE_PARTITION_HEADER_T& descriptor,
                                                    std::span<const uint8_t> block);

}  // namespace vn
