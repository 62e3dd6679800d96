#include "dld/upgrade_file_check.h"

#include <filesystem>
#include <vector>

#include "dld/file_io.h"
#include "dld/inspect.h"

namespace vn {

namespace {

// What a file of this kind is when it is no regular file; empty for a regular file.
std::string KindProblem(const std::filesystem::file_status& status) {
  namespace fs = std::filesystem;
  if (fs::is_directory(status)) return "is a folder, not an upgrade file";
  if (fs::is_fifo(status)) return "is a FIFO, not an upgrade file";
  if (fs::is_character_file(status) || fs::is_block_file(status)) {
    return "is a device, not an upgrade file";
  }
  if (!fs::is_regular_file(status)) return "is not a regular file";
  return {};
}

}  // namespace

std::string FileKindProblem(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return error ? error.message() : KindProblem(status);
}

bool ReadUpgradeImage(const std::string& path, std::vector<uint8_t>& image, std::string& problem) {
  // A file that is missing or cannot be looked at gets the reason the read gives below.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (const std::string kind = error ? std::string() : KindProblem(status); !kind.empty()) {
    problem = path + " " + kind;
    return false;
  }
  if (ReadWholeFile(path, image, &problem, kMaxUpgradeFileSize)) return true;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > kMaxUpgradeFileSize) {
    problem = path + " holds " + std::to_string(size) + " bytes, more than an upgrade file can (" +
              std::to_string(kMaxUpgradeFileSize) + ")";
  }
  return false;
}

bool CheckUpgradeImage(std::span<const uint8_t> image, std::string& problem) {
  const InspectReport report = InspectUpgradeFile(image);
  if (report.Sound()) return true;
  problem = report.faults.empty() ? "no download header" : DescribeFault(report.faults.front());
  return false;
}

bool CheckUpgradeFile(const std::string& path, std::string& problem) {
  std::vector<uint8_t> image;
  return ReadUpgradeImage(path, image, problem) && CheckUpgradeImage(image, problem);
}

}  // namespace vn
