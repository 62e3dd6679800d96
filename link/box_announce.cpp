#include "link/box_announce.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "link/platform/processes.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "box-";

fs::path OwnAnnouncement() {
  return fs::path(BoxAnnounceFolder()) / (std::string(kPrefix) + std::to_string(OwnProcessId()));
}

// The pid in a name "box-<pid>", or 0.
int64_t PidOfName(const std::string& name) {
  if (!name.starts_with(kPrefix)) return 0;
  int64_t pid = 0;
  const char* first = name.data() + kPrefix.size();
  const char* last = name.data() + name.size();
  const auto [end, error] = std::from_chars(first, last, pid);
  return error == std::errc{} && end == last && pid > 0 ? pid : 0;
}

}  // namespace

std::string BoxAnnounceFolder() {
  return PrivateRuntimeFolder();
}

bool AnnounceBox(const std::string& ptyPath) {
  const fs::path folder = BoxAnnounceFolder();
  std::error_code error;
  // Only this user's programs need to read it.
  MakePrivateFolder(folder.string());
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
    const int64_t pid = PidOfName(entry.path().filename().string());
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
