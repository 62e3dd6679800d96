#include "platform/atomic_file.h"

#include "platform/file_kind.h"

namespace vn {

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error) {
  // The rename replaces the entry it names: a link is followed so that it stays and the file it
  // points to is written, and a FIFO or a device is never replaced by a file.
  const std::string target = FollowLinks(path);
  if (const std::string kind = NonFileProblem(target); !kind.empty()) {
    if (error) *error = path + " " + kind;
    return false;
  }
  return ReplaceEntryAtomically(target, bytes, error);
}

}  // namespace vn
