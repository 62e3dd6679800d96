// The upload receiver fed whatever a box might send: the first byte picks the region set, the rest
// answers the PC's reads in order. An upload may fail any way it likes, but a success must leave a
// sound file of exactly the set's regions with its own size in the header, and a failure must
// never create the target.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "dld/blocks.h"
#include "dld/byte_order.h"
#include "dld/file_io.h"
#include "dld/inspect.h"
#include "dld/region_sets.h"
#include "link/upload.h"
#include "scripted_port.h"

namespace {

std::string TargetPath() {
  return (std::filesystem::temp_directory_path() /
          ("vespanode-fuzz-upload-" + std::to_string(::getpid()) + ".dld"))
      .string();
}

void ExpectSoundBackup(const std::string& target, int operation) {
  std::vector<uint8_t> bytes;
  vn::Failure failure;
  if (!vn::ReadWholeFile(target, bytes, failure)) __builtin_trap();
  const vn::InspectReport report = vn::InspectUpgradeFile(bytes);
  if (!report.Sound()) __builtin_trap();
  if (report.regions.size() != vn::UploadRegionList(operation).size()) __builtin_trap();
  if (vn::GetLe24(&bytes[53]) != bytes.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string target = TargetPath();
  std::filesystem::remove(target);
  const int operation = vn::kOperationUploadData + data[0] % (vn::kOperationCount - 1);
  vn::ScriptedPort port(std::span<const uint8_t>(data + 1, size - 1));
  vn::NullObserver observer;
  vn::Progress progress(observer);
  vn::FILE_DOWNLOAD_HEADER_T header{};
  vn::TransferContext context{port,   observer, progress,
                              header, "",       vn::PartitionCountOfOperation(operation)};
  if (vn::UploadFromBox(context, target, operation)) {
    ExpectSoundBackup(target, operation);
  } else if (std::filesystem::exists(target)) {
    __builtin_trap();
  }
  std::filesystem::remove(target);
  std::filesystem::remove(target + ".partial");
  return 0;
}
