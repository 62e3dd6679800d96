#pragma once
// Adding one line to a log that several programs, and several threads in each, write at once.
#include <string>

namespace vn {

// Appends `line` and a newline to the file at `path`, creating it when missing (rw-r--r-- on
// POSIX). The whole line goes in under an exclusive lock on the file, so lines from other
// threads and processes that append this way are never torn or interleaved with it. False, with
// `why` holding the system's message, when the file cannot be opened, locked or written; a
// failed write may have left part of the line behind.
bool AppendWholeLine(const std::string& path, const std::string& line, std::string& why);

}  // namespace vn
