#include "link/box_announce.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace vn {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "box-";

fs::path OwnAnnouncement() {
  return fs::path(BoxAnnounceFolder()) / (std::string(kPrefix) + std::to_string(getpid()));
}

// The pid in a name "box-<pid>", or 0.
pid_t PidOfName(const std::string& name) {
  if (!name.starts_with(kPrefix)) return 0;
  pid_t pid = 0;
  const char* first = name.data() + kPrefix.size();
  const char* last = name.data() + name.size();
  const auto [end, error] = std::from_chars(first, last, pid);
  return error == std::errc{} && end == last && pid > 0 ? pid : 0;
}

bool ProcessAlive(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::string BoxAnnounceFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/vespanode";
  return "/tmp/vespanode-" + std::to_string(getuid());
}

bool AnnounceBox(const std::string& ptyPath) {
  const fs::path folder = BoxAnnounceFolder();
  std::error_code error;
  fs::create_directories(folder, error);
  // Only this user's programs need to read it.
  chmod(folder.c_str(), 0700);
  const fs::path target = OwnAnnouncement();
  // Written aside and renamed, so that a reader never sees half a path.
  const fs::path staging = target.string() + ".new";
  {
    std::ofstream out(staging, std::ios::trunc);
    out << ptyPath << '\n';
    if (!out.flush()) return false;
  }
  fs::rename(staging, target, error);
  if (error) fs::remove(staging, error);
  return !error;
}

void WithdrawBox() {
  std::error_code error;
  fs::remove(OwnAnnouncement(), error);
}

std::vector<std::string> ListAnnouncedBoxes() {
  std::vector<std::string> paths;
  std::error_code error;
  fs::directory_iterator entries(BoxAnnounceFolder(), error);
  if (error) return paths;
  for (const fs::directory_entry& entry : entries) {
    const pid_t pid = PidOfName(entry.path().filename().string());
    if (pid == 0) continue;
    std::string path;
    std::getline(std::ifstream(entry.path()), path);
    if (ProcessAlive(pid) && !path.empty() && fs::exists(path, error)) {
      paths.push_back(path);
    } else {
      fs::remove(entry.path(), error);
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace vn
