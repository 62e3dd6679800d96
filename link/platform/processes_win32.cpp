#include "link/platform/processes.h"

#include <windows.h>

#include <filesystem>

namespace vn {

int64_t OwnProcessId() {
  return int64_t(GetCurrentProcessId());
}

std::string UserIdentity() {
  char name[257] = {};
  DWORD length = sizeof name;
  if (!GetUserNameA(name, &length) || length == 0) return "";
  return std::string(name, length - 1);  // the count includes the terminating zero
}

bool ProcessAlive(int64_t pid) {
  if (pid <= 0 || pid > int64_t(MAXDWORD)) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
  // Another user's process may not be opened, but it runs.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

std::string PrivateRuntimeFolder() {
  std::error_code error;
  return (std::filesystem::temp_directory_path(error) / "vespanode").string();
}

// The user's temporary folder is the user's own already.
void MakePrivateFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
}

}  // namespace vn
