#include "platform/file_offset.h"

namespace vn {

bool SeekFileTo(std::FILE* file, int64_t position) {
  if (file == nullptr || position < 0) return false;
  return _fseeki64(file, position, SEEK_SET) == 0;
}

int64_t SeekFileEnd(std::FILE* file) {
  if (file == nullptr || _fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
}

}  // namespace vn
