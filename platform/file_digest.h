#pragma once
// The SHA-256 of a file or of bytes in memory, so that a record can name exactly which file a box
// got.
#include <cstdint>
#include <span>
#include <string>

#include "platform/failure.h"

namespace vn {

// Reads the file at `path` in 64 KiB pieces and leaves its SHA-256 in `hexDigest` (64 lowercase
// hex digits). False, with `failure` in the system's words, when the file cannot be opened or
// read or the digest cannot be computed; `hexDigest` is then empty.
bool FileSha256(const std::string& path, std::string& hexDigest, Failure& failure);

// The same digest of `bytes`: for a download, the bytes sent to the boxes rather than whatever
// the file on disk holds by then. False, with `failure`, only when the digest cannot be computed.
bool BufferSha256(std::span<const uint8_t> bytes, std::string& hexDigest, Failure& failure);

}  // namespace vn
