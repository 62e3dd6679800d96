#include <windows.h>

#include "platform/host_name.h"
#include "platform/wide_text_win32.h"

namespace vn {

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = DWORD(sizeof name / sizeof name[0]);
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) return "unknown";
  return Utf8FromWide(std::wstring_view(name, size));
}

}  // namespace vn
