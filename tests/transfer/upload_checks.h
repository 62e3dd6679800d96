#pragma once
// What every uploaded file must be, shared by the upload tests and the fault matrix.
#include <cstdint>
#include <vector>

#include "dld/blocks.h"
#include "dld/region_sets.h"

namespace vn::testing {

// A file an upload must replace whole or leave alone.
inline const std::vector<uint8_t> kOldBackup = {0x11, 0x44, 0x00, 'o', 'l', 'd'};

inline const FILE_DOWNLOAD_HEADER_T& HeaderOf(const std::vector<uint8_t>& file) {
  return *reinterpret_cast<const FILE_DOWNLOAD_HEADER_T*>(file.data());
}

// The box's header with kind code, N and total size set, then per region a descriptor with the
// piece count and CRC recomputed and the data block as the box sent it, expanding to exactly the
// bytes of `flash`.
void ExpectSoundUpload(const std::vector<uint8_t>& file, Operation operation,
                       const std::vector<uint8_t>& flash);

}  // namespace vn::testing
