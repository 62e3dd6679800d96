#include "platform/program_dir.h"

#include <windows.h>

#include <filesystem>

namespace vn {

std::string ProgramDir() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::error_code error;
  if (length == 0 || length >= sizeof path) return std::filesystem::current_path(error).string();
  return std::filesystem::path(std::string(path, length)).parent_path().string();
}

}  // namespace vn
