#pragma once
// The check a download runs before it touches a box, and the window runs on the chosen file: the
// same as `inspect`. A download reads its file once, checks those bytes and sends the same bytes
// to every box, so that a file replaced during a run never reaches a box half old, half new.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace vn {

// iTotalSize, the file's size as its header states it, has 24 bits: no upgrade file is larger.
inline constexpr size_t kMaxUpgradeFileSize = (size_t(1) << 24) - 1;

// Why `path` cannot be sent as an upgrade file before anything is read from it: the system's reason
// when it cannot be looked at, or what it is when it is no regular file (kWrongKind, "is a FIFO,
// not an upgrade file"); kNone for a regular file. The path is left for the caller to name.
// Opening a FIFO to read would wait for a writer.
Failure FileKindFailure(const std::string& path);

// Reads the whole file into `image`. False, with `failure` saying why, for what is no regular file
// (never opened, kWrongKind), a file that cannot be read, and one larger than
// kMaxUpgradeFileSize (kWrongKind).
bool ReadUpgradeImage(const std::string& path, std::vector<uint8_t>& image, Failure& failure);

// True when the bytes are a sound upgrade file; otherwise `failure` (kDamaged) says what is wrong
// and where.
bool CheckUpgradeImage(std::span<const uint8_t> image, Failure& failure);

}  // namespace vn
