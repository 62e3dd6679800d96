#include "dld/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dld/file_at.h"
#include "platform/file_kind.h"

namespace vn {
namespace {

void SetError(std::string* error, const std::string& what, int code) {
  if (error) *error = what + ": " + std::strerror(code);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string* error,
                   size_t maxBytes) {
  // Looked at before it is opened: opening a FIFO to read waits for a writer without end.
  if (const std::string kind = NonFileProblem(path); !kind.empty()) {
    if (error) *error = path + " " + kind;
    return false;
  }
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    SetError(error, "cannot open " + path, errno);
    return false;
  }
  std::vector<uint8_t> read;
  uint8_t chunk[65536];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (read.size() + got > maxBytes) {
      if (error) *error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    read.insert(read.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  if (std::ferror(file.get())) {
    SetError(error, "cannot read " + path, errno);
    return false;
  }
  bytes = std::move(read);
  return true;
}

}  // namespace vn
