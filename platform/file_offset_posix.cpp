#include "platform/file_offset.h"

#include <sys/types.h>

namespace vn {

bool SeekFileTo(std::FILE* file, int64_t position) {
  if (file == nullptr || position < 0) return false;
  return fseeko(file, off_t(position), SEEK_SET) == 0;
}

int64_t SeekFileEnd(std::FILE* file) {
  if (file == nullptr || fseeko(file, 0, SEEK_END) != 0) return -1;
  return int64_t(ftello(file));
}

}  // namespace vn
