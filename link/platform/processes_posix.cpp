#include "link/platform/processes.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace vn {

int64_t OwnProcessId() {
  return int64_t(::getpid());
}

std::string UserIdentity() {
  return std::to_string(::getuid());
}

bool ProcessAlive(int64_t pid) {
  return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::string PrivateRuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/vespanode";
  return "/tmp/vespanode-" + UserIdentity();
}

void MakePrivateFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  ::chmod(folder.c_str(), 0700);
}

}  // namespace vn
