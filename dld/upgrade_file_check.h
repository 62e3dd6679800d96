#pragma once
// The check a download runs before it touches a box, and the window runs on the chosen file: the
// same as `inspect`.
#include <string>

namespace vn {

// True when the file reads and is sound; otherwise `problem` says what is wrong and where.
bool CheckUpgradeFile(const std::string& path, std::string& problem);

}  // namespace vn
