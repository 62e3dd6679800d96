#pragma once
// The check a download runs before it touches a box, and the window runs on the chosen file: the
// same as `inspect`.
#include <string>

namespace vn {

// Why `path` cannot be sent as an upgrade file before anything is read from it: the system's reason
// when it cannot be looked at, or what it is when it is no regular file ("is a FIFO, not an
// upgrade file"); empty for a regular file. Opening a FIFO to read would wait for a writer.
std::string FileKindProblem(const std::string& path);

// True when the file reads and is sound; otherwise `problem` says what is wrong and where. A FIFO,
// a folder or a device is refused without being opened.
bool CheckUpgradeFile(const std::string& path, std::string& problem);

}  // namespace vn
