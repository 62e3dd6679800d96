#include "link/box_announce.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/file_system.h"
#include "platform/processes.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "box-";
// A device path is short; an announcement any longer is none of ours.
constexpr size_t kAnnouncementLimit = 4096;

fs::path OwnAnnouncement() {
  return fs::path(PrivateRuntimeFolder()) / (std::string(kPrefix) + std::to_string(OwnProcessId()));
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

bool AnnounceBox(const std::string& ptyPath, Failure* failure) {
  const std::string folder = PrivateRuntimeFolder();
  // Only this user's programs need to read it, and nobody else may have put anything there.
  Failure problem;
  if (!MakePrivateFolder(folder, problem)) {
    if (failure) {
      *failure = {.kind = problem.kind,
                  .systemMessage = folder + ": " + FailureText(problem),
                  .systemCode = problem.systemCode};
    }
    return false;
  }
  const fs::path target = OwnAnnouncement();
  // Written aside and renamed, so that a reader never sees half a path. Created exclusively and
  // never through a link.
  const std::string staging = target.string() + ".new";
  std::FILE* out = CreateExclusiveFile(staging, 0600);
  const FailureKind openKind = out ? FailureKind::kOther : FailureOfErrno(errno).kind;
  bool written = out != nullptr;
  if (out) {
    const std::string line = ptyPath + "\n";
    written = std::fwrite(line.data(), 1, line.size(), out) == line.size();
    written = std::fclose(out) == 0 && written;
  }
  std::error_code error;
  if (written) fs::rename(staging, target, error);
  if (!written || error) {
    fs::remove(staging, error);
    if (failure) *failure = FailureSaying(openKind, staging + ": cannot be written");
    return false;
  }
  return true;
}

void WithdrawBox() {
  std::error_code error;
  fs::remove(OwnAnnouncement(), error);
}

std::vector<std::string> ListAnnouncedBoxes() {
  std::vector<std::string> paths;
  const std::string folder = PrivateRuntimeFolder();
  Failure notPrivate;
  if (!IsPrivateFolder(folder, notPrivate)) return paths;
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) return paths;
  for (const fs::directory_entry& entry : entries) {
    const int64_t pid = PidOfName(entry.path().filename().string());
    if (pid == 0) continue;
    std::string text;
    // Whatever is not a regular file is left alone: a box only ever writes those.
    if (!ReadSmallRegularFile(entry.path().string(), kAnnouncementLimit, text)) continue;
    const std::string path = text.substr(0, text.find('\n'));
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
