#include "platform/utf8_path.h"

#include "platform/wide_text_win32.h"

namespace vn {

std::filesystem::path Utf8Path(const std::string& name) {
  return std::filesystem::path(WideFromUtf8(name));
}

std::string Utf8OfPath(const std::filesystem::path& path) {
  return Utf8FromWide(path.wstring());
}

}  // namespace vn
