#include "dld/extract.h"

#include <algorithm>
#include <filesystem>

#include "dld/file_io.h"
#include "dld/region_sets.h"
#include "platform/text_format.h"
#include "platform/utf8_path.h"

namespace vn {
namespace {

bool InsideFlash(uint32_t address, uint32_t size) {
  return address >= kFlashBase && uint64_t(address - kFlashBase) + size <= kFlashSize;
}

std::string FirstFault(const InspectReport& report) {
  if (report.faults.empty()) return "the file has no header";
  return DescribeFault(report.faults.front());
}

}  // namespace

bool ExtractIntoImage(std::span<const uint8_t> file, std::vector<uint8_t>& image,
                      Failure* failure) {
  const auto fail = [failure](std::string words) {
    if (failure) *failure = FailureSaying(FailureKind::kDamaged, std::move(words));
    return false;
  };
  std::vector<std::vector<uint8_t>> contents;  // expanded once, by the inspection
  const InspectReport report = InspectUpgradeFile(file, &contents);
  if (!report.Sound()) return fail(FirstFault(report));
  for (const RegionRow& row : report.regions) {
    if (!InsideFlash(row.address, row.size)) {
      return fail("region " + std::to_string(row.region) + " at " + HexNumber(row.address, 8) +
                  " lies outside the 2 MiB flash image");
    }
  }
  // Sound: every region expanded to its size.
  std::vector<uint8_t> updated = image;
  for (size_t i = 0; i < report.regions.size(); ++i) {
    const RegionRow& row = report.regions[i];
    const std::vector<uint8_t>& region = contents[i];
    const size_t start = row.address - kFlashBase;
    if (updated.size() < start + region.size()) updated.resize(start + region.size(), kErasedByte);
    std::copy(region.begin(), region.end(), updated.begin() + ptrdiff_t(start));
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
  // An image file is the whole flash: a shorter one is erased flash beyond its end.
  if (image.size() < kFlashSize) image.resize(kFlashSize, kErasedByte);
  if (!ExtractIntoImage(file, image, &result.failure)) {
    result.outcome = ExtractOutcome::Unsound;
    return result;
  }
  if (!WriteFileAtomically(imagePath, image, result.failure)) return result;
  result.outcome = ExtractOutcome::Written;
  return result;
}

}  // namespace vn
