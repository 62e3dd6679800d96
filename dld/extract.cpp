#include "dld/extract.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "dld/block_walker.h"
#include "dld/byte_order.h"
#include "dld/file_io.h"
#include "dld/lzo_codec.h"
#include "dld/region_sets.h"
#include "platform/utf8_path.h"

namespace vn {
namespace {

std::string Hex32(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

bool InsideFlash(uint32_t address, uint32_t size) {
  return address >= kFlashBase && uint64_t(address - kFlashBase) + size <= kFlashSize;
}

std::string FirstFault(const InspectReport& report) {
  if (report.faults.empty()) return "the file has no header";
  return DescribeFault(report.faults.front());
}

}  // namespace

bool ExtractIntoImage(std::span<const uint8_t> file, std::vector<uint8_t>& image,
                      std::string* why) {
  const InspectReport report = InspectUpgradeFile(file);
  if (!report.Sound()) {
    if (why) *why = FirstFault(report);
    return false;
  }
  for (const RegionRow& row : report.regions) {
    if (!InsideFlash(row.address, row.size)) {
      if (why) {
        *why = "region " + std::to_string(row.region) + " at " + Hex32(row.address) +
               " lies outside the 2 MiB flash image";
      }
      return false;
    }
  }
  // Sound: every data block is present and expands to its region.
  std::vector<uint8_t> updated = image;
  const WalkedFile walked = WalkUpgradeFile(file);
  for (size_t i = 0; i < walked.regions.size(); ++i) {
    const RegionRow& row = report.regions[i];
    const auto contents = LzoDecompress(walked.regions[i].data->payload, row.size);
    if (!contents) {
      if (why) *why = "region " + std::to_string(row.region) + " does not expand";
      return false;
    }
    const size_t start = row.address - kFlashBase;
    if (updated.size() < start + contents->size()) {
      updated.resize(start + contents->size(), kErasedByte);
    }
    std::copy(contents->begin(), contents->end(), updated.begin() + ptrdiff_t(start));
  }
  image = std::move(updated);
  return true;
}

ExtractResult ExtractToImageFile(std::span<const uint8_t> file, const std::string& imagePath) {
  ExtractResult result;
  std::vector<uint8_t> image;
  std::error_code error;
  if (std::filesystem::status(Utf8Path(imagePath), error).type() ==
      std::filesystem::file_type::not_found) {
    image.assign(kFlashSize, kErasedByte);
  } else if (!ReadWholeFile(imagePath, image, result.failure)) {
    return result;
  }
  if (std::string why; !ExtractIntoImage(file, image, &why)) {
    result.outcome = ExtractOutcome::Unsound;
    result.failure = FailureSaying(FailureKind::kDamaged, why);
    return result;
  }
  if (!WriteFileAtomically(imagePath, image, result.failure)) return result;
  result.outcome = ExtractOutcome::Written;
  return result;
}

}  // namespace vn
