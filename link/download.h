#pragma once
// Writing an upgrade file into the box: start command, identity verdict, every partition, then
// the box's erase and program reports.
#include <cstdint>
#include <span>
#include <string>

#include "link/transfer_context.h"

namespace vn {

inline constexpr const char* kScratchHeaderName = "Test_DownloadHeader.bin";

enum class ReportPhase { kErase, kProgram };

// True after "Program flash Success!". The box must have sent its ready frame. `image` is the
// whole upgrade file, read once; the context's header must be its first 71 bytes, so that the box
// gets header and partitions of one and the same file.
bool DownloadToBox(TransferContext& context, std::span<const uint8_t> image);
// Sends the current download header; true when the box accepted its identity.
bool VerifyHeader(TransferContext& context);
// Sends N descriptor and data block pairs of the image from position 71 on.
bool SendPartitions(TransferContext& context, std::span<const uint8_t> image);
// Follows N reports of one phase (expected index 12 for erase, 15 for program).
bool WaitPartitionResults(TransferContext& context, int expectedIndex, ReportPhase phase);

}  // namespace vn
