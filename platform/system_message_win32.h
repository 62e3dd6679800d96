#pragma once
// The text Windows gives for an error code, for the messages of the win32 files.
#include <windows.h>

#include <string>

#include "platform/failure.h"

namespace vn {

// FormatMessage's text without its closing full stop and line break, or "error N" when Windows
// has none.
std::string SystemMessage(DWORD code);
// The failure a Windows error code stands for, in Windows' words.
Failure FailureOfSystemError(DWORD code, std::string action = {}, std::string subject = {});

}  // namespace vn
