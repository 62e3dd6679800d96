#pragma once
// Whole-file reads and writes for the file tools. A write goes to a temporary file in the same
// folder that is renamed over the target, so a failure never leaves a half-written file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace vn {

inline constexpr size_t kMaxToolFileSize = size_t(64) << 20;

// False, with `failure` naming the file and the reason, when it cannot be read, is no regular file
// (never opened then) or is larger than `maxBytes`.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, Failure& failure,
                   size_t maxBytes = kMaxToolFileSize);

// False, with `failure`, when the file or its folder cannot be written, or the path (links
// followed) is something other than a regular file; the target is then as it was before. A symbolic
// link is followed: the file it points to is replaced and the link stays.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, Failure& failure);

}  // namespace vn
