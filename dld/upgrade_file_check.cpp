#include "dld/upgrade_file_check.h"

#include <filesystem>
#include <vector>

#include "dld/file_io.h"
#include "dld/inspect.h"
#include "platform/file_kind.h"
#include "platform/utf8_path.h"

namespace vn {

Failure FileKindFailure(const std::string& path) {
  std::error_code error;
  (void)std::filesystem::status(Utf8Path(path), error);
  if (error) {
    Failure failure = FailureOfErrno(error.default_error_condition().value());
    failure.systemMessage = error.message();
    return failure;
  }
  if (const std::string kind = NonFileProblem(path, "an upgrade file"); !kind.empty())
    return FailureSaying(FailureKind::kWrongKind, kind);
  return {};
}

bool ReadUpgradeImage(const std::string& path, std::vector<uint8_t>& image, Failure& failure) {
  // A file that is missing or cannot be looked at gets the reason the read gives below.
  if (const std::string kind = NonFileProblem(path, "an upgrade file"); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind, path);
    return false;
  }
  if (ReadWholeFile(path, image, failure, kMaxUpgradeFileSize)) return true;
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(Utf8Path(path), error);
  if (!error && size > kMaxUpgradeFileSize) {
    failure =
        FailureSaying(FailureKind::kWrongKind,
                      "holds " + std::to_string(size) + " bytes, more than an upgrade file can (" +
                          std::to_string(kMaxUpgradeFileSize) + ")",
                      path);
  }
  return false;
}

bool CheckUpgradeImage(std::span<const uint8_t> image, Failure& failure) {
  const InspectReport report = InspectUpgradeFile(image);
  if (report.Sound()) return true;
  failure = FailureSaying(FailureKind::kDamaged, report.faults.empty()
                                                     ? "no download header"
                                                     : DescribeFault(report.faults.front()));
  return false;
}

}  // namespace vn
