#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/atomic_file.h"

namespace vn {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(fd, bytes + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

// Creates a fresh file in `folder` next to `name`; the mode honours the umask like any new file.
int CreateTemporary(int folder, const std::string& name, std::string& tempName) {
  std::random_device seed;
  std::mt19937 generator(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    tempName = name + ".tmp" + std::to_string(generator() % 1000000);
    const int fd = ::openat(folder, tempName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

// Everything happens in the one folder opened first: nothing swapped in along the path since the
// caller judged it can redirect the write, and the rename replaces the entry itself, never what a
// link there might point to.
bool ReplaceEntryAtomically(const std::string& path, std::span<const uint8_t> bytes,
                            Failure& failure) {
  const std::string name = NameOf(path);
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string tempName;
  const int fd = folder < 0 ? -1 : CreateTemporary(folder, name, tempName);
  if (fd < 0) {
    failure = FailureOfErrno(errno, "cannot write in folder", FolderOf(path));
    if (folder >= 0) ::close(folder);
    return false;
  }
  // Keep the mode of a file being replaced.
  struct stat existing;
  if (::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(existing.st_mode)) {
    ::fchmod(fd, existing.st_mode & 07777);
  }
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  int code = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && ::renameat(folder, tempName.c_str(), folder, name.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    ::unlinkat(folder, tempName.c_str(), 0);
    failure = FailureOfErrno(code, "cannot write", path);
  }
  ::close(folder);
  return ok;
}

}  // namespace vn
