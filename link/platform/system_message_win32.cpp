#include "link/platform/system_message_win32.h"

namespace vn {

std::string SystemMessage(DWORD code) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

}  // namespace vn
