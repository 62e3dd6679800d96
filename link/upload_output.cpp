#include "link/upload_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "link/fresh_file.h"

namespace vn {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask like any new file

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

bool SyncToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return synced;
}

}  // namespace

std::string PartialFileName(const std::string& target) {
  return FollowLinks(target) + ".partial";
}

UniqueFile CreatePartialFile(const std::string& target) {
  return CreateFreshFile(PartialFileName(target), kNewFileMode);
}

bool CommitPartialFile(const std::string& target) {
  const std::string destination = FollowLinks(target);
  const std::string partial = destination + ".partial";
  if (!SyncToDisk(partial)) return false;
  // A replaced backup keeps who may read it.
  struct stat replaced;
  if (::stat(destination.c_str(), &replaced) == 0)
    ::chmod(partial.c_str(), replaced.st_mode & 07777);
  return ::rename(partial.c_str(), destination.c_str()) == 0;
}

bool CanCreateUploadFile(const std::string& target, int* osError) {
  const std::string destination = FollowLinks(target);
  struct stat info;
  const bool exists = ::stat(destination.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    *osError = EISDIR;
    return false;
  }
  // A backup made read-only is kept from being replaced, as writing it in place always did.
  if ((exists && ::access(destination.c_str(), W_OK) != 0) ||
      ::access(FolderOf(destination).c_str(), W_OK | X_OK) != 0) {
    *osError = errno;
    return false;
  }
  return true;
}

std::string FileErrorText(const std::string& action, const std::string& path, int osError) {
  std::string text = action + " " + path + ": " + std::strerror(osError);
  if (osError == ENOSPC || osError == EDQUOT)
    text += " (disk full: free some space and start again)";
  if (osError == EACCES || osError == EROFS) text += " (choose a folder you may write to)";
  return text;
}

}  // namespace vn
