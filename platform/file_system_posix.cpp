#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/file_system.h"

namespace vn {

std::FILE* CreateExclusiveFile(const std::string& path, int mode) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  // Whoever recreates the name between the two calls makes the exclusive create fail.
  const int fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w+b");
  if (!file) {
    const int error = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = error;
  }
  return file;
}

bool SyncFileToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return synced;
}

bool RenameOver(const std::string& from, const std::string& to) {
  struct stat replaced;
  if (::stat(to.c_str(), &replaced) == 0) ::chmod(from.c_str(), replaced.st_mode & 07777);
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link is never made over an existing name either.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

bool SyncOpenFile(std::FILE* file) {
  return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
}

bool NameHoldsOpenFile(const std::string& path, std::FILE* file) {
  struct stat named, open;
  return ::lstat(path.c_str(), &named) == 0 && ::fstat(::fileno(file), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

int CannotWriteReason(const std::string& path) {
  struct stat info;
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return EISDIR;
  // By the mode bits first: access() lets root write any file, read-only or not.
  if (exists && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? std::string(".") : parent.string();
  if ((exists && ::access(path.c_str(), W_OK) != 0) || ::access(folder.c_str(), W_OK | X_OK) != 0) {
    return errno;
  }
  return 0;
}

bool IsForeignLink(const std::string& path, std::string& folder) {
  struct stat link;
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return false;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  folder = parent.empty() ? std::string(".") : parent.string();
  struct stat shared;
  if (::stat(folder.c_str(), &shared) != 0) return false;
  const bool sharedSticky = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
  return sharedSticky && link.st_uid != ::geteuid() && link.st_uid != shared.st_uid;
}

}  // namespace vn
