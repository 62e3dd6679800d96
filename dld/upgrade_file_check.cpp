#include "dld/upgrade_file_check.h"

#include <filesystem>
#include <vector>

#include "dld/file_io.h"
#include "dld/inspect.h"
#include "link/platform/file_kind.h"

namespace vn {

std::string FileKindProblem(const std::string& path) {
  std::error_code error;
  if (const auto status = std::filesystem::status(path, error); error) return error.message();
  return NonFileProblem(path, "an upgrade file");
}

bool CheckUpgradeFile(const std::string& path, std::string& problem) {
  // A file that is missing or cannot be looked at gets the reason the read gives below.
  if (const std::string kind = NonFileProblem(path, "an upgrade file"); !kind.empty()) {
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
