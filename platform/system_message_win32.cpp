#include "platform/system_message_win32.h"

namespace vn {

std::string SystemMessage(DWORD code) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  // Windows ends its texts with a full stop and a line break; ours go inside sentences.
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

}  // namespace vn

namespace vn {
namespace {

// Windows' codes, sorted into the kinds as failure.cpp sorts errno: one table for each system.
FailureKind KindOfSystemError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return FailureKind::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FailureKind::kPermissionDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
      return FailureKind::kBusy;
    case ERROR_DIRECTORY:
      return FailureKind::kWrongKind;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FailureKind::kNoSpace;
    default:
      return FailureKind::kOther;
  }
}

}  // namespace

Failure FailureOfSystemError(DWORD code, std::string action, std::string subject) {
  return {KindOfSystemError(code),
          std::move(action),
          std::move(subject),
          SystemMessage(code),
          {},
          int(code)};
}

}  // namespace vn
