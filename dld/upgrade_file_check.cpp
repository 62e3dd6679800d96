#include "dld/upgrade_file_check.h"

#include <vector>

#include "dld/file_io.h"
#include "dld/inspect.h"

namespace vn {

bool CheckUpgradeFile(const std::string& path, std::string& problem) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, &problem)) return false;
  const InspectReport report = InspectUpgradeFile(bytes);
  if (report.Sound()) return true;
  problem = report.faults.empty() ? "no download header" : DescribeFault(report.faults.front());
  return false;
}

}  // namespace vn
