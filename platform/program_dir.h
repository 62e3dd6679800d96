#pragma once
// Where the running program's executable lies.
#include <string>

namespace vn {

// The folder of the executable; the current folder when the system cannot say.
std::string ProgramDir();

}  // namespace vn
