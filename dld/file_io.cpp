#include "dld/file_io.h"

#include <cerrno>
#include <cstdio>

#include "dld/file_at.h"
#include "platform/atomic_file.h"
#include "platform/file_kind.h"

namespace vn {
namespace {}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, Failure& failure,
                   size_t maxBytes) {
  // Looked at before it is opened: opening a FIFO to read waits for a writer without end.
  if (const std::string kind = NonFileProblem(path); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind, path);
    return false;
  }
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    failure = FailureOfErrno(errno, "cannot open", path);
    return false;
  }
  std::vector<uint8_t> read;
  uint8_t chunk[65536];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (read.size() + got > maxBytes) {
      failure = FailureSaying(FailureKind::kWrongKind,
                              "is larger than " + std::to_string(maxBytes) + " bytes", path);
      return false;
    }
    read.insert(read.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  if (std::ferror(file.get())) {
    failure = FailureOfErrno(errno, "cannot read", path);
    return false;
  }
  bytes = std::move(read);
  return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         Failure& failure) {
  // The rename replaces the entry it names: a link is followed so that it stays and the file it
  // points to is written, and a FIFO or a device is never replaced by a file.
  const std::string target = FollowLinks(path);
  if (const std::string kind = NonFileProblem(target); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind, path);
    return false;
  }
  return ReplaceFileAtomically(target, bytes, failure);
}

}  // namespace vn
