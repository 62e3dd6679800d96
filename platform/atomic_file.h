#pragma once
// Replacing a whole file so that nobody ever sees half of it.
#include <cstdint>
#include <span>
#include <string>

#include "platform/failure.h"

namespace vn {

// Writes `bytes` to a fresh file beside the target, flushes it to the disk and renames it over
// the target; an existing file's permissions carry over. A symbolic link is followed: the file
// it points to is replaced and the link stays. False, with `failure` naming the file and the
// reason, when the target (links followed) is something other than a regular file, is read-only
// by its mode (root's run too) or any step fails: the target is then as it was, and no temporary
// file is left.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, Failure& failure);

// The system's half of WriteFileAtomically, for atomic_file.cpp alone: replaces the entry at
// `path` itself, which the caller has already followed and judged.
bool ReplaceEntryAtomically(const std::string& path, std::span<const uint8_t> bytes,
                            Failure& failure);

}  // namespace vn
