#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/platform/append_line.h"

namespace vn {
namespace {

// O_APPEND alone makes each write() land at the end, but a large line may be written in more
// than one piece, and another writer's piece could fall in between: the lock keeps them apart.
bool WriteWhole(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    if (put == 0) {
      errno = EIO;
      return false;
    }
    done += size_t(put);
  }
  return true;
}

bool LockExclusively(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

bool AppendWholeLine(const std::string& path, const std::string& line, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  bool ok = LockExclusively(fd) && WriteWhole(fd, line + "\n");
  int code = errno;
  // Closing releases the lock; a failed close may mean the bytes never reached the file.
  if (::close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (!ok) why = std::strerror(code);
  return ok;
}

}  // namespace vn
