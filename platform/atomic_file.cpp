#include "platform/atomic_file.h"

#include "platform/file_kind.h"
#include "platform/file_system.h"

namespace vn {

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         Failure& failure) {
  // The rename replaces the entry it names: a link is followed so that it stays and the file it
  // points to is written, and a FIFO or a device is never replaced by a file.
  const std::string target = FollowLinks(path);
  if (const std::string kind = NonFileProblem(target); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind, path);
    return false;
  }
  // A file made read-only is kept by its mode, whoever runs the tool (root too), as an upload's
  // --force keeps one; so is a file in a folder the user may not write to.
  if (const int osError = CannotWriteReason(target); osError != 0) {
    failure = FailureOfErrno(osError, "cannot write", path);
    return false;
  }
  return ReplaceEntryAtomically(target, bytes, failure);
}

}  // namespace vn
