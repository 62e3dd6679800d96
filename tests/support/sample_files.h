#pragma once
// Flash images and upgrade files made by our own code, for the tests and the benchmarks.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dld/blocks.h"
#include "dld/file_identity.h"
#include "dld/region_sets.h"
#include "support/scratch_folder.h"

namespace vn::testing {

// An image at kFlashBase, `size` bytes of what real flash holds, in stretches of 4 KiB (shorter
// in a small image, so that each holds all kinds): half noise that does not compress, erased 0xFF
// and ramps that compress well, so that it packs to about half, as firmware does. The same seed
// always gives the same bytes; each seed others.
std::vector<uint8_t> SampleFlashImage(uint32_t seed, size_t size = kFlashSize);

// The identity the virtual box has by default; a file carrying it is accepted.
FileIdentity LabBoxIdentity();

// A sealed 71-byte download header carrying `identity` and `count` partitions; empty when a text
// of the identity does not fit its field.
std::vector<uint8_t> HeaderFor(const FileIdentity& identity, int count);

// The header at the front of `file`, which holds at least kHeaderSize bytes.
inline const FILE_DOWNLOAD_HEADER_T& HeaderOf(const std::vector<uint8_t>& file) {
  return *reinterpret_cast<const FILE_DOWNLOAD_HEADER_T*>(file.data());
}

// A sound upgrade file for any list of regions (not only the six sets), contents from `image`.
std::vector<uint8_t> BuildUpgradeFile(std::span<const UploadRegion> regions,
                                      const std::vector<uint8_t>& image,
                                      const FileIdentity& identity);

// A sound upgrade file of region set `set` for the lab box, contents from SampleFlashImage(seed).
std::vector<uint8_t> SampleUpgradeFile(Operation set, uint32_t seed);

// Whether what an upload left as FILE.partial (its bytes; none when it left nothing) could pass
// for a finished backup: a sound file, or a header that states its total size.
bool PassesForABackup(const std::vector<uint8_t>& partial);

// One region built by hand, so that its descriptor can say what its data block does not.
std::vector<uint8_t> OneRegionFile(uint32_t address, std::span<const uint8_t> contents,
                                   std::span<const uint8_t> compressed);

}  // namespace vn::testing
