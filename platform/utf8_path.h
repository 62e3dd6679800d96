#pragma once
// File names are UTF-8 text everywhere in the program. The standard library takes narrow text for
// a path in the system's own encoding, which on Windows is a code page rather than UTF-8: every
// path made from a file name, and every name taken back from a path, goes through here.
#include <filesystem>
#include <string>

namespace vn {

std::filesystem::path Utf8Path(const std::string& name);
std::string Utf8OfPath(const std::filesystem::path& path);

}  // namespace vn
