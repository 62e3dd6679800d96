#include "dld/upgrade_file_check.h"

#include <filesystem>
#include <vector>

#include "dld/file_io.h"
#include "dld/inspect.h"

namespace vn {

std::string FileKindProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return error.message();
  if (fs::is_directory(status)) return "is a folder, not an upgrade file";
  if (fs::is_fifo(status)) return "is a FIFO, not an upgrade file";
  if (fs::is_character_file(status) || fs::is_block_file(status)) {
    return "is a device, not an upgrade file";
  }
  if (!fs::is_regular_file(status)) return "is not a regular file";
  return {};
}

bool CheckUpgradeFile(const std::string& path, std::string& problem) {
  // A file that is missing or cannot be looked at gets the reason the read gives below.
  std::error_code error;
  if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error)) {
    problem = path + " " + FileKindProblem(path);
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
