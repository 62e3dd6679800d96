#include "link/fresh_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace vn {

UniqueFile CreateFreshFile(const std::string& path, mode_t mode) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  // Whoever recreates the name between the two calls makes the exclusive create fail.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w+b");
  if (!file) {
    const int error = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = error;
  }
  return UniqueFile(file);
}

std::string FollowLinks(const std::string& path) {
  namespace fs = std::filesystem;
  constexpr int kMaxLinks = 40;  // as the system itself allows before ELOOP
  fs::path current(path);
  for (int i = 0; i < kMaxLinks; ++i) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(current, error))) break;
    const fs::path target = fs::read_symlink(current, error);
    if (error) break;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return current.string();
}

}  // namespace vn
