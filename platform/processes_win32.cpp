#include "platform/processes.h"

#include <windows.h>

#include <filesystem>
#include <fstream>

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

// The user's temporary folder is the user's own already: what is left to check is that the name
// is a folder and no link (a junction or symbolic link) to somewhere else.
bool IsPrivateFolder(const std::string& folder, Failure& failure) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(folder, error);
  if (std::filesystem::is_directory(status)) return true;
  failure = std::filesystem::exists(status)
                ? FailureSaying(FailureKind::kWrongKind, "it is not a folder")
                : FailureSaying(FailureKind::kNotFound, "it does not exist");
  return false;
}

bool MakePrivateFolder(const std::string& folder, Failure& failure) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return IsPrivateFolder(folder, failure);
}

bool ReadSmallRegularFile(const std::string& path, size_t limit, std::string& text) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) {
    return false;
  }
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return false;
  text.assign(limit, '\0');
  in.read(text.data(), std::streamsize(limit));
  text.resize(size_t(in.gcount()));
  return !in.bad();
}

bool PeerIsThisUser(intptr_t) {
  return true;
}

}  // namespace vn
