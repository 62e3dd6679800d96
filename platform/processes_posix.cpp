#include "platform/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

// What a name is, in words for a message: "a link", "a FIFO", ...
std::string KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a link";
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "no folder";
}

bool Refuse(Failure& failure, Failure refusal) {
  failure = std::move(refusal);
  return false;
}

}  // namespace

bool IsPrivateFolder(const std::string& folder, Failure& failure) {
  // lstat: a link planted by someone else, even to one of our own folders, is not the folder.
  struct stat info;
  if (::lstat(folder.c_str(), &info) != 0) return Refuse(failure, FailureOfErrno(errno));
  if (!S_ISDIR(info.st_mode))
    return Refuse(failure, FailureSaying(FailureKind::kWrongKind,
                                         "it is " + KindOf(info.st_mode) + ", not a folder"));
  if (info.st_uid != ::getuid()) {
    return Refuse(failure, FailureSaying(FailureKind::kPermissionDenied,
                                         "it belongs to user " + std::to_string(info.st_uid) +
                                             ", not to us"));
  }
  if ((info.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
    return Refuse(failure, FailureSaying(FailureKind::kPermissionDenied,
                                         std::string("its mode is ") + mode + ", not 0700"));
  }
  return true;
}

bool MakePrivateFolder(const std::string& folder, Failure& failure) {
  // The folder's parent (the runtime folder, or /tmp) is the system's: a missing one is not made
  // here, so that nothing but the folder itself comes into being.
  // An umask as strict as 0777 may narrow the mode; a folder made just now is ours to widen.
  if (::mkdir(folder.c_str(), 0700) == 0) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      ::fchmod(fd, 0700);
      ::close(fd);
    }
  } else if (errno != EEXIST) {
    return Refuse(failure, FailureOfErrno(errno));
  }
  return IsPrivateFolder(folder, failure);
}

bool PeerIsThisUser(intptr_t socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
         peer.uid == ::geteuid();
}

bool ReadSmallRegularFile(const std::string& path, size_t limit, std::string& text) {
  // Non-blocking, so that opening a FIFO or a device returns at once; fstat then tells the kind
  // of what was opened, not of what the name held a moment before.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  text.clear();
  while (ok && text.size() < limit) {
    char chunk[512];
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(chunk, size_t(n));
  }
  ::close(fd);
  return ok;
}

}  // namespace vn
