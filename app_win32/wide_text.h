#pragma once
// The window speaks UTF-16 to Windows and UTF-8 to everything else: the conversions, at the edge.
#include <string>
#include <string_view>

namespace vn {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace vn
