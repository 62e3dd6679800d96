#pragma once
// Flash images and upgrade files made by our own code, and scratch folders, for the tests.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dld/file_identity.h"
#include "dld/region_sets.h"

namespace vn::testing {

// A 2 MiB image at kFlashBase with compressible and incompressible stretches; `seed` varies it.
std::vector<uint8_t> SampleFlashImage(uint32_t seed);

// The identity the virtual box has by default; a file carrying it is accepted.
FileIdentity LabBoxIdentity();

// A sound upgrade file for any list of regions (not only the six sets), contents from `image`.
std::vector<uint8_t> BuildUpgradeFile(std::span<const UploadRegion> regions,
                                      const std::vector<uint8_t>& image,
                                      const FileIdentity& identity);

// A fresh folder under the system's temporary folder, removed with its contents on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace vn::testing
