// Decoding what the box sends: command frames, read requests, and a whole download driven by
// arbitrary answers (ACK or NAK bytes, the verdict, erase and program reports). Whatever decodes
// must agree with the encoder; the download may fail any way it likes without a sanitizer report.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "dld/header_file.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/download.h"
#include "link/link_message.h"
#include "link/wire_format.h"
#include "scripted_port.h"

namespace {

// A one-region upgrade file small enough that a run is a handful of frames.
std::vector<uint8_t> TinyUpgradeImage() {
  // The key set's one region of a uniform image packs into a single data frame.
  const std::vector<uint8_t> image(vn::kFlashSize, 0x5A);
  const auto file = vn::PackUpgradeFile(vn::RegionSetOf(vn::Operation::kUploadKey), image, {});
  if (!file) __builtin_trap();
  return *file;
}

void CheckCommandFrames(const uint8_t* data, size_t size) {
  for (size_t at = 0; at + vn::kCommandFrameSize <= size; at += vn::kCommandFrameSize) {
    const int index = vn::DecodeCommand(data + at);
    if (index < -1 || index >= vn::kLinkMessageCount) __builtin_trap();
    const auto frame = vn::CommandFrameOf(index);
    if (frame && (*frame)[1] != data[at + 1]) __builtin_trap();
  }
}

void CheckReadRequest(const uint8_t* data, size_t size) {
  uint8_t request[vn::kReadRequestSize] = {};
  std::copy_n(data, std::min(size, sizeof request), request);
  const auto regions = vn::ParseReadRequest(request);
  if (!regions) return;
  const auto rebuilt = vn::BuildReadRequest(*regions);
  const size_t used = 8 + 8 * regions->size();  // STX, length, count, the regions, the CRC
  if (!std::equal(rebuilt.begin(), rebuilt.begin() + used, request)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckCommandFrames(data, size);
  CheckReadRequest(data, size);

  static const std::vector<uint8_t> tiny = TinyUpgradeImage();
  vn::ScriptedPort port(std::span<const uint8_t>(data, size));
  vn::NullObserver observer;
  vn::Progress progress(observer);
  vn::FILE_DOWNLOAD_HEADER_T header{};
  if (!vn::ReadDownloadHeader(tiny, header)) __builtin_trap();
  // No scratch file: the program's folder does not exist, so the header goes from memory.
  static const std::string noFolder =
      (std::filesystem::temp_directory_path() / "vespanode-fuzz-no-folder").string();
  vn::TransferContext context{port, observer, progress, header, noFolder, 1};
  vn::DownloadToBox(context, tiny);
  return 0;
}
