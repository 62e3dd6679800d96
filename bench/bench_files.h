#pragma once
// Files and folders the benchmarks make for themselves, so they need nothing from the tests.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dld/file_identity.h"
#include "dld/file_io.h"
#include "sim/virtual_box.h"

namespace vn {

// The file's bytes, or none when it cannot be read.
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  Failure unread;
  if (!ReadWholeFile(path, bytes, unread)) bytes.clear();
  return bytes;
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  Failure unwritten;
  return WriteFileAtomically(path, bytes, unwritten);
}

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vn-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vn
