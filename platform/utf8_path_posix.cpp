#include "platform/utf8_path.h"

namespace vn {

// The system's own encoding is the bytes of the name as they are, UTF-8 or not.
std::filesystem::path Utf8Path(const std::string& name) {
  return std::filesystem::path(name);
}

std::string Utf8OfPath(const std::filesystem::path& path) {
  return path.string();
}

}  // namespace vn
