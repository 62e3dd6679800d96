#pragma once
// A fresh folder under the system's temporary folder, for one test or one benchmark alone.
#include <cstdint>
#include <string>
#include <vector>

namespace vn::testing {

// Made on construction (Path() is empty when no folder could be made) and removed with its
// contents on destruction, even when a test left it read-only.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes File(name) and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::string path_;
};

// The file's bytes; none when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& path);
// The same as text.
std::string ReadText(const std::string& path);
// Replaces the file's contents; false when they could not all be written.
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace vn::testing
