#include "link/fresh_file.h"

#include "platform/file_system.h"

namespace vn {

UniqueFile CreateFreshFile(const std::string& path, int mode) {
  return UniqueFile(CreateExclusiveFile(path, mode));
}

}  // namespace vn
