#include "dld/file_at.h"

#include <filesystem>

#include "platform/file_offset.h"
#include "platform/utf8_path.h"

namespace vn {

UniqueFile OpenRegularFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(Utf8Path(path), error)) return nullptr;
  return UniqueFile(std::fopen(path.c_str(), "rb"));
}

int64_t FileSizeOf(std::FILE* file) {
  return SeekFileEnd(file);
}

bool ReadFileAt(std::FILE* file, int64_t position, uint8_t* destination, size_t count) {
  return SeekFileTo(file, position) && std::fread(destination, 1, count, file) == count;
}

bool WriteFileAt(std::FILE* file, int64_t position, const uint8_t* bytes, size_t count) {
  return SeekFileTo(file, position) && std::fwrite(bytes, 1, count, file) == count &&
         std::fflush(file) == 0;
}

}  // namespace vn
