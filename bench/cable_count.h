#pragma once
// What crosses the cable during the transfer phase, worked out from the blocks of the file moved,
// and the line time it needs: the ideal a lock-step transfer can at best come to.
#include <cstdint>
#include <optional>
#include <vector>

#include "dld/block_walker.h"
#include "link/line_rate.h"
#include "link/wire_format.h"

namespace vn {

inline constexpr double kSecondsPerByte = kLineSecondsPerByte;

struct CableCount {
  int regions = 0;
  int64_t dataBytes = 0;   // data blocks, as stored in the file
  int frames = 0;          // 1024-byte data frames
  int64_t cableBytes = 0;  // everything, both directions

  double LineSeconds() const { return double(cableBytes) * kSecondsPerByte; }
};

// A download cuts a data block of B bytes into B / 1020 + 1 frames (a last frame always carries
// less than 1020, so a block of a multiple of 1020 ends with an empty one); the box, sending an
// upload, stops at the last byte: ceil(B / 1020) frames. Every descriptor and frame is
// answered with one ACK; an upload also sends its read request, answered with ACK.
inline std::optional<CableCount> CountCable(const std::vector<uint8_t>& file, bool download) {
  const WalkedFile walked = WalkUpgradeFile(file);
  if (walked.fault || !walked.header) return std::nullopt;
  CableCount count;
  if (!download) count.cableBytes += kReadRequestSize + 1;
  for (const RegionBlocks& region : walked.regions) {
    if (!region.data) return std::nullopt;
    const int64_t block = int64_t(region.data->bytes.size());
    const int frames = download ? int(block / kFramePayloadMax + 1)
                                : int((block + kFramePayloadMax - 1) / kFramePayloadMax);
    ++count.regions;
    count.dataBytes += block;
    count.frames += frames;
    count.cableBytes += kDescriptorSize + 1 + int64_t(frames) * (kDataFrameSize + 1);
  }
  return count;
}

}  // namespace vn
