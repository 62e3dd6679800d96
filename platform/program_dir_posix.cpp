#include "platform/program_dir.h"

#include <filesystem>

namespace vn {

std::string ProgramDir() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path(error).string() : exe.parent_path().string();
}

}  // namespace vn
