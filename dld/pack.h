#pragma once
// Builds upgrade files from a flash image, and the blocks they are made of.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dld/blocks.h"
#include "dld/file_identity.h"
#include "dld/region_sets.h"

namespace vn {

// A header for N regions: tag, length 68, the identity, the kind code, N, iTotalSize 0, reserved
// bytes zero, sealed. nullopt, with `failure`, when a text does not fit its field.
std::optional<FILE_DOWNLOAD_HEADER_T> MakeHeader(const FileIdentity& identity, uint8_t kindCode,
                                                 int regionCount, Failure* failure = nullptr);

// A sealed descriptor for a region whose `contents` are stored as the `compressed` bytes.
FILE_PARTITION_HEADER_T MakeDescriptor(uint8_t flag, uint32_t address,
                                       std::span<const uint8_t> contents,
                                       std::span<const uint8_t> compressed);

// Appends a data block: tag 0x33, r + 4 in three bytes, the compressed bytes, their CRC.
void AppendDataBlock(std::vector<uint8_t>& file, std::span<const uint8_t> compressed);

// Sets iTotalSize of the header at the file's start to the file's size and reseals it.
void StampTotalSize(std::vector<uint8_t>& file);

// The bytes of a flash region taken from an image that starts at kFlashBase; bytes the image
// does not reach read as 0xFF, as erased flash does.
std::vector<uint8_t> RegionOfImage(std::span<const uint8_t> image, uint32_t address, uint32_t size);

// The upgrade file of a region set made from a flash image: the header with the set's kind code,
// then for each region of the set its descriptor (with the set's request flag) and its LZO1X-999
// data block. nullopt, with `failure`, for a set of no regions or an identity text too long for its
// field.
std::optional<std::vector<uint8_t>> PackUpgradeFile(const RegionSet& set,
                                                    std::span<const uint8_t> flashImage,
                                                    const FileIdentity& identity,
                                                    Failure* failure = nullptr);

}  // namespace vn
