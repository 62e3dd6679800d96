#pragma once
// A new, empty folder under the system's temporary folder that no other test shares.
#include <filesystem>
#include <random>
#include <string>

namespace vn::test {

// Empty when no folder could be made.
inline std::filesystem::path CreateFreshFolder(const std::string& prefix) {
  std::random_device seed;
  std::error_code error;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::filesystem::path candidate = temp / (prefix + std::to_string(seed()));
    // False when the name is taken.
    if (std::filesystem::create_directory(candidate, error)) return candidate;
  }
  return {};
}

}  // namespace vn::test
