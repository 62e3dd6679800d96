#pragma once
// Windows speaks UTF-16; the program's text, file names included, is UTF-8: the conversions, at
// the edge.
#include <string>
#include <string_view>

namespace vn {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace vn
