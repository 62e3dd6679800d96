#pragma once
// Whole-file reads and writes for the file tools. Writes are platform's WriteFileAtomically: a
// temporary file in the same folder renamed over the target, never a half-written file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/atomic_file.h"  // WriteFileAtomically
#include "platform/failure.h"

namespace vn {

inline constexpr size_t kMaxToolFileSize = size_t(64) << 20;

// False, with `failure` naming the file and the reason, when it cannot be read, is no regular file
// (never opened then) or is larger than `maxBytes`.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, Failure& failure,
                   size_t maxBytes = kMaxToolFileSize);

#include "platform/atomic_file.h"  // WriteFileAtomically
#include "platform/failure.h"
}  // namespace vn
