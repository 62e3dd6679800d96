#pragma once
// The benchmarks' images, files and folders come from the tests' support library.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cable_count.h"
#include "dld/file_identity.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "sim/virtual_box.h"
#include "support/sample_files.h"

namespace vn {

using testing::ReadBytes;
using testing::SampleFlashImage;
using testing::ScratchFolder;
using testing::WriteBytes;

// The upgrade file a benchmark moves, written into its scratch folder, with what crosses the
// cable when it goes down to a box and when it comes back up.
struct BenchFile {
  std::string path;
  CableCount down;
  CableCount up;
};

// `set` packed from `image` for the lab's box into scratch/firmware.dld; nullopt, with the reason
// printed, when it cannot be made.
inline std::optional<BenchFile> MakeBenchFile(const ScratchFolder& scratch, Operation set,
                                              const std::vector<uint8_t>& image) {
  Failure failure;
  const auto packed = scratch.Path().empty()
                          ? std::nullopt
                          : PackUpgradeFile(RegionSetOf(set), image, LabBoxIdentity(), &failure);
  BenchFile file{scratch.File("firmware.dld"), {}, {}};
  const auto down = packed ? CountCable(*packed, true) : std::nullopt;
  const auto up = packed ? CountCable(*packed, false) : std::nullopt;
  if (!down || !up || !WriteBytes(file.path, *packed)) {
    std::printf("cannot make the upgrade file: %s\n", FailureText(failure).c_str());
    return std::nullopt;
  }
  file.down = *down;
  file.up = *up;
  return file;
}

}  // namespace vn
