#pragma once
// Replacing a whole file so that nobody ever sees half of it.
#include <cstdint>
#include <span>
#include <string>

#include "platform/failure.h"

namespace vn {

// Writes `bytes` to a fresh file beside `path`, flushes it to the disk and renames it over `path`;
// an existing file's permissions carry over. False, with `failure` naming the file and the reason,
// when any step fails: the target is then as it was, and no temporary file is left.
bool ReplaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                           Failure& failure);

}  // namespace vn
