#include "support/scratch_folder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace vn::testing {
namespace {

namespace fs = std::filesystem;

// A name no other test or run shares; empty when none could be made.
std::string CreateFreshFolder() {
  std::random_device seed;
  std::error_code error;
  const fs::path temp = fs::temp_directory_path(error);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path candidate = temp / ("vespanode-test-" + std::to_string(seed()));
    if (fs::create_directory(candidate, error)) return candidate.string();  // false when taken
  }
  return {};
}

}  // namespace

ScratchFolder::ScratchFolder() : path_(CreateFreshFolder()) {}

ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string path = File(name);
  WriteBytes(path, bytes);
  return path;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  return bool(out);
}

}  // namespace vn::testing
