#include "link/fresh_file.h"

#include <filesystem>

#include "link/platform/file_system.h"

namespace vn {

UniqueFile CreateFreshFile(const std::string& path, int mode) {
  return UniqueFile(CreateExclusiveFile(path, mode));
}

std::string FollowLinks(const std::string& path) {
  namespace fs = std::filesystem;
  constexpr int kMaxLinks = 40;  // as the system itself allows before ELOOP
  fs::path current(path);
  for (int i = 0; i < kMaxLinks; ++i) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(current, error))) break;
    const fs::path target = fs::read_symlink(current, error);
    if (error) break;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return current.string();
}

}  // namespace vn
