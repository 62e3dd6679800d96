#include "dld/file_at.h"

#include <filesystem>

namespace vn {
namespace {

bool SeekTo(std::FILE* file, int64_t position) {
  if (file == nullptr || position < 0) return false;
#ifdef _WIN32
  return _fseeki64(file, position, SEEK_SET) == 0;
#else
  return fseeko(file, off_t(position), SEEK_SET) == 0;
#endif
}

}  // namespace

UniqueFile OpenRegularFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return nullptr;
  return UniqueFile(std::fopen(path.c_str(), "rb"));
}

int64_t FileSizeOf(std::FILE* file) {
  if (file == nullptr) return -1;
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return int64_t(ftello(file));
#endif
}

bool ReadFileAt(std::FILE* file, int64_t position, uint8_t* destination, size_t count) {
  return SeekTo(file, position) && std::fread(destination, 1, count, file) == count;
}

bool WriteFileAt(std::FILE* file, int64_t position, const uint8_t* bytes, size_t count) {
  return SeekTo(file, position) && std::fwrite(bytes, 1, count, file) == count &&
         std::fflush(file) == 0;
}

}  // namespace vn
