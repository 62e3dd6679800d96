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

bool CheckUpgradeFile(const std::string& path, std::string& problem) {
  // A file that is missing or cannot be looked at gets the reason the read gives below.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (const std::string kind = error ? std::string() : KindProblem(status); !kind.empty()) {
    problem = path + " " + kind;
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, &problem)) return false;
  const InspectReport report = InspectUpgradeFile(bytes);
  if (report.Sound()) return true;
  problem = report.faults.empty() ? "no download header" : DescribeFault(report.faults.front());
  return false;
}

}  // namespace vn
